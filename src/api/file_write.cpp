#include "VyrCISFlatfieldCorrection.hpp"

#include "platform/file_write.h"

namespace vyrffc {

void WriteFile(const std::string& path, std::string_view bytes) {
    const std::string reason = ffc::WriteWholeFile(path, bytes);
    if (!reason.empty()) throw Error(ErrorReason::kFileUnreadable, "cannot write " + path + ": " + reason);
}

}  // namespace vyrffc
