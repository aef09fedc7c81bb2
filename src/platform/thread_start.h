// Starting a thread: the one place that asks the system for one. The system
// may refuse (a process or memory limit); the caller then goes on with the
// threads it has instead of ending the process.
#ifndef VYR_FFC_PLATFORM_THREAD_START_H
#define VYR_FFC_PLATFORM_THREAD_START_H

#include <functional>
#include <optional>
#include <thread>

namespace ffc {

// A thread running `work`, or nothing when the system would not start one.
std::optional<std::thread> StartThread(std::function<void()> work);

// What starts threads for a caller that spreads work over them; tests pass
// one that refuses.
using ThreadStarter = std::function<std::optional<std::thread>(std::function<void()>)>;

}  // namespace ffc

#endif  // VYR_FFC_PLATFORM_THREAD_START_H
