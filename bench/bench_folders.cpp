#include "bench_folders.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <tuple>

namespace ffc::bench {

namespace {

using FolderKey = std::tuple<int, int, int, int, int, uint32_t>;

struct FolderStore {
    std::string root;
    std::map<FolderKey, std::string> folders;
};

FolderStore& Store() {
    static FolderStore store;
    return store;
}

const std::string& Root() {
    FolderStore& store = Store();
    if (store.root.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "ffc-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
        store.root = pattern + "/";
    }
    return store.root;
}

}  // namespace

const std::string& SimulatedFolder(const cissim::SimulatorOptions& options) {
    FolderStore& store = Store();
    const FolderKey key{options.width, options.height, options.levels, options.chips, options.darkColumns,
                        options.seed};
    const auto found = store.folders.find(key);
    if (found != store.folders.end()) return found->second;

    const std::string folder = Root() + "w" + std::to_string(options.width) + "_h" + std::to_string(options.height) +
                               "_n" + std::to_string(options.levels) + "_s" + std::to_string(options.seed) + "/";
    const auto start = std::chrono::steady_clock::now();
    cissim::WriteCalibrationFolder(folder, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "  (wrote %d simulated images of %d x %d in %.1f s)\n", options.levels, options.width,
                 options.height, seconds);
    return store.folders.emplace(key, folder).first->second;
}

std::string ScratchFolder(const std::string& name) {
    const std::string folder = Root() + name + "/";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    return folder;
}

void RemoveSimulatedFolders() {
    FolderStore& store = Store();
    if (!store.root.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(store.root, ignored);
    }
    store.folders.clear();
    store.root.clear();
}

}  // namespace ffc::bench
