// The host console's keyboard driver: loading a keymap (its text, as inflated
// from the keymap archive). The simulation registers the loader; without one
// every load is refused. Safe to call from any thread.
#pragma once

#include <functional>
#include <string>

namespace Platform::Console {

// Loads `keymapText` into the console; false when the console refuses it.
bool LoadKeymap(const std::string& keymapText);

using KeymapLoader = std::function<bool(const std::string& keymapText)>;
// Replaces the loader; returns the previous one (tests wrap it).
KeymapLoader SetKeymapLoader(KeymapLoader loader);

}  // namespace Platform::Console
