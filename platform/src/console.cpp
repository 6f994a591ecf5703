// The console's keymap loader registry.
#include "platform/console.h"

#include <mutex>

namespace Platform::Console {

namespace {
std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
KeymapLoader& Loader() {
    static KeymapLoader* loader = new KeymapLoader;  // lives for the process; registrars run at load time
    return *loader;
}
}  // namespace

bool LoadKeymap(const std::string& keymapText) {
    KeymapLoader loader;
    {
        std::lock_guard<std::mutex> lock(Mutex());
        loader = Loader();
    }
    return loader ? loader(keymapText) : false;
}

KeymapLoader SetKeymapLoader(KeymapLoader loader) {
    std::lock_guard<std::mutex> lock(Mutex());
    KeymapLoader previous = std::move(Loader());
    Loader() = std::move(loader);
    return previous;
}

}  // namespace Platform::Console
