// Points where an injected fault may make a platform operation fail, so the
// library's error paths can be tested: the configuration store's writes and
// commits. The simulation registers the hook that decides; with no hook
// registered (a real host) nothing fails here.
#pragma once

#include <functional>

namespace Platform::FaultPoint {

enum class Point {
    StoreWrite,   // ConfigStore::Write and Delete
    StoreCommit,  // the outermost ConfigStoreTransaction::Commit
};

// Returns true when the operation at `point` is to fail now (and consumes
// the fault). Safe to call from any thread.
using Hook = std::function<bool(Point point)>;
void Register(Hook hook);

// True when an injected fault makes this operation fail.
bool Fails(Point point);

}  // namespace Platform::FaultPoint
