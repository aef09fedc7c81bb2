// The one writer of files: whole or nothing, never a temporary file left,
// permissions as the umask or the replaced file give, links written through,
// folders never created.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "VyrCISFlatfieldCorrection.hpp"
#include "support/temp_folder.h"

namespace vyrffc {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Only the names a case made itself, never a ".*.tmp" beside them.
void ExpectNoTemporary(const std::string& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.front() == '.' && entry.path().extension() == ".tmp") << name;
    }
}

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskScope() { ::umask(old_); }

private:
    mode_t old_;
};

struct WriteCase {
    const char* behaviour;
    std::string name;     // the name written
    mode_t umask;
    mode_t existingMode;  // 0: a new file
    mode_t expectedMode;
};

TEST(FileWrite, WritesWholeWithThePermissionsTheUmaskOrTheOldFileGives) {
    const WriteCase cases[] = {
        {"a new file", "new.ffcal", 022, 0, 0644},
        {"a new file under umask 077", "private.ffcal", 077, 0, 0600},
        {"a 250-byte name", std::string(244, 'n') + ".ffcal", 022, 0, 0644},
        {"a file replaced keeps 0600", "kept600.ffcal", 022, 0600, 0600},
        {"a file replaced keeps 0640 under umask 077", "kept640.ffcal", 077, 0640, 0640},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.behaviour);
        ffc::testing::TempFolder folder;
        const std::string path = folder.path() + c.name;
        if (c.existingMode != 0) {
            std::ofstream(path) << "old contents, longer than the new";
            ASSERT_EQ(::chmod(path.c_str(), c.existingMode), 0);
        }
        UmaskScope mask(c.umask);
        WriteFile(path, "new");
        EXPECT_EQ(ReadText(path), "new");
        EXPECT_EQ(ModeOf(path), c.expectedMode);
        ExpectNoTemporary(folder.path());
    }
}

TEST(FileWrite, WritesThroughASymlinkAndKeepsTheLink) {
    ffc::testing::TempFolder folder;
    fs::create_directory(folder.path() + "real");
    std::ofstream(folder.path() + "real/target.ffcal") << "old";
    ASSERT_EQ(::chmod((folder.path() + "real/target.ffcal").c_str(), 0640), 0);
    // A relative link to a relative link: each is followed from its own folder.
    fs::create_symlink("real/target.ffcal", folder.path() + "inner");
    fs::create_symlink("inner", folder.path() + "outer");
    fs::create_symlink("real/later.ffcal", folder.path() + "dangling");

    WriteFile(folder.path() + "outer", "new");
    WriteFile(folder.path() + "dangling", "made");
    EXPECT_TRUE(fs::is_symlink(folder.path() + "outer"));
    EXPECT_TRUE(fs::is_symlink(folder.path() + "inner"));
    EXPECT_TRUE(fs::is_symlink(folder.path() + "dangling"));
    EXPECT_EQ(ReadText(folder.path() + "real/target.ffcal"), "new");
    EXPECT_EQ(ModeOf(folder.path() + "real/target.ffcal"), 0640u);
    EXPECT_EQ(ReadText(folder.path() + "real/later.ffcal"), "made");
    ExpectNoTemporary(folder.path());
    ExpectNoTemporary(folder.path() + "real");
}

TEST(FileWrite, AFifoReceivesTheBytesInPlace) {
    ffc::testing::TempFolder folder;
    const std::string fifo = folder.path() + "pipe.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader is there first, so the writer's open does not wait.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    WriteFile(fifo, "through the pipe");
    char received[64] = {};
    EXPECT_EQ(::read(reader, received, sizeof received), 16);
    ::close(reader);
    EXPECT_EQ(std::string(received), "through the pipe");
    EXPECT_TRUE(fs::is_fifo(fifo));
    ExpectNoTemporary(folder.path());
}

ErrorReason ReasonOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.reason();
    }
    ADD_FAILURE() << "no error";
    return ErrorReason::kInvalidSettings;
}

TEST(FileWrite, RefusesAFolderAndAMissingFolderAndCreatesNothing) {
    ffc::testing::TempFolder folder;
    fs::create_directory(folder.path() + "taken");
    EXPECT_EQ(ReasonOf([&] { WriteFile(folder.path() + "taken", "x"); }), ErrorReason::kFileUnreadable);
    EXPECT_TRUE(fs::is_directory(folder.path() + "taken"));
    try {
        WriteFile(folder.path() + "missing/deeper/x.ffcal", "x");
        ADD_FAILURE() << "written into a folder that does not exist";
    } catch (const Error& error) {
        EXPECT_EQ(error.reason(), ErrorReason::kFileUnreadable);
        EXPECT_NE(std::string(error.what()).find("does not exist"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(fs::exists(folder.path() + "missing"));
    ExpectNoTemporary(folder.path());
}

// A write that fails halfway (here: past the file size limit, as a full disk
// would) leaves the old file as it was and no temporary file.
TEST(FileWrite, AWriteThatFailsLeavesTheOldFileAndNoTemporary) {
    ffc::testing::TempFolder folder;
    const std::string path = folder.path() + "kept.ffcal";
    std::ofstream(path) << "old";
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const ErrorReason reason = ReasonOf([&] { WriteFile(path, std::string(100000, 'x')); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(reason, ErrorReason::kFileUnreadable);
    EXPECT_EQ(ReadText(path), "old");
    ExpectNoTemporary(folder.path());
}

}  // namespace
}  // namespace vyrffc
