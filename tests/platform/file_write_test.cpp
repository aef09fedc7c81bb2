// The writer and the reader at the system boundary, one table run on Linux
// and, cross-compiled, under wine: what replacing, names and permissions do.
#include "platform/file_read.h"
#include "platform/file_write.h"
#include "support/temp_folder.h"

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace ffc {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::string Contents(const std::string& path) {
    InputFile file;
    std::string bytes;
    if (file.Open(path, NameEncoding::kUtf8) != OpenStatus::kOpened || !file.ReadAll(bytes)) return "<unreadable>";
    return bytes;
}

size_t EntriesIn(const std::string& folder) {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator(fs::u8path(folder))) count += entry.path().empty() ? 0 : 1;
    return count;
}

struct WriteCase {
    const char* name;
    const char* target;                               // under the test's folder, UTF-8
    std::function<void(const std::string&)> before;  // given the target's full name
    std::string reasonStart;                          // "" when the write succeeds
    const char* contentsAfter;
    size_t entriesAfter;  // in the test's folder: no temporary file is left behind
};

TEST(FileWrite, ReplacesRefusesAndLeavesNothingBehind) {
    const auto existing = [](const std::string& path) { ASSERT_EQ(WriteWholeFile(path, "old"), ""); };
    const WriteCase cases[] = {
        {"new name", "new.bin", nullptr, "", "new", 1},
        {"over an existing file", "old.bin", existing, "", "new", 1},
        {"UTF-8 folder name", "caf\xc3\xa9/f\xc3\xbc.bin",
         [](const std::string& path) { fs::create_directory(fs::u8path(path).parent_path()); }, "", "new", 1},
        {"folder that does not exist", "missing/new.bin", nullptr, "the folder ", "<unreadable>", 0},
        {"a folder as the target", "folder", [](const std::string& path) { fs::create_directory(fs::u8path(path)); },
         "it is a folder", "<unreadable>", 1},
        // POSIX keeps the replaced file's mode on the new one; Windows keeps a
        // file marked read-only as it is.
        {"read-only file", "kept.bin",
         [&](const std::string& path) {
             existing(path);
             fs::permissions(fs::u8path(path), fs::perms::owner_read | fs::perms::group_read);
         },
         kWindows ? "the file is read-only" : "", kWindows ? "old" : "new", 1},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempFolder folder;
        const std::string path = folder.path() + c.target;
        if (c.before) c.before(path);
        const std::string reason = WriteWholeFile(path, "new");
        EXPECT_EQ(reason.substr(0, c.reasonStart.size()), c.reasonStart) << reason;
        EXPECT_EQ(reason.empty(), c.reasonStart.empty()) << reason;
        EXPECT_EQ(Contents(path), c.contentsAfter);
        EXPECT_EQ(EntriesIn(folder.path()), c.entriesAfter);
        if (!kWindows && std::string(c.name) == "read-only file") {
            EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::group_read);
        }
        // Windows removes no read-only file with its folder.
        std::error_code ignored;
        fs::permissions(fs::u8path(path), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
}

TEST(FileRead, RefusesWhatIsNotARegularFile) {
    testing::TempFolder folder;
    InputFile file;
    EXPECT_EQ(file.Open(folder.path() + "none.bin", NameEncoding::kUtf8), OpenStatus::kMissing);
    EXPECT_EQ(file.Open(folder.path() + "none/none.bin", NameEncoding::kUtf8), OpenStatus::kMissing);
    fs::create_directory(fs::u8path(folder.path() + "sub"));
    EXPECT_EQ(file.Open(folder.path() + "sub", NameEncoding::kUtf8), OpenStatus::kNotRegular);
    EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace ffc
