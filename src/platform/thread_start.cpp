#include "platform/thread_start.h"

#include <new>
#include <system_error>
#include <utility>

namespace ffc {

std::optional<std::thread> StartThread(std::function<void()> work) {
    try {
        return std::thread(std::move(work));
    } catch (const std::system_error&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace ffc
