#include "support/temp_folder.h"

#include <atomic>
#include <filesystem>
#include <random>
#include <string>

namespace ffc::testing {

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    std::random_device device;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
        ("ffc-test-" + std::to_string(device()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(device()));
    std::filesystem::create_directories(folder);
    path_ = folder.string() + "/";
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace ffc::testing
