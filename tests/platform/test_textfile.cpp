// Text files: whole lines, regular files only, and a write that fails midway leaves no part of
// its line behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "fixture.h"
#include "platform/textfile.h"

namespace {

using fixture::Slurp;
using fixture::TempDir;

TEST(TextFile, WritesWholeLinesInEveryOpenAction) {
    TempDir dir;
    const std::string path = dir.file("log.txt");
    std::ofstream(path) << "earlier\n";

    int f = OpenFile(path, VAL_READ_WRITE, VAL_APPEND, VAL_ASCII);
    ASSERT_GE(f, 0);
    EXPECT_EQ(WriteLine(f, "1.5;2,5;x", -1), 10);
    EXPECT_EQ(WriteLine(f, "abcdef", 3), 4);
    EXPECT_EQ(SyncFile(f), 0);
    EXPECT_EQ(CloseFile(f), 0);
    EXPECT_EQ(Slurp(path), "earlier\n1.5;2,5;x\nabc\n");

    f = OpenFile(path, VAL_READ_WRITE, VAL_TRUNCATE, VAL_ASCII);
    ASSERT_GE(f, 0);
    EXPECT_EQ(WriteLine(f, "", -1), 1);
    CloseFile(f);
    EXPECT_EQ(Slurp(path), "\n");

    EXPECT_EQ(OpenFile(dir.file("missing.txt"), VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_ASCII), -1);
    EXPECT_EQ(OpenFile(dir.file("no/dir/x.txt"), VAL_READ_WRITE, VAL_TRUNCATE, VAL_ASCII), -1);
    EXPECT_LT(WriteLine(f, "closed", -1), 0);
    EXPECT_LT(SyncFile(f), 0);
    EXPECT_LT(CloseFile(f), 0);
}

// Only regular files are log files: anything else under the name is refused in every mode and
// action, at once (a named pipe never blocks the open), and never emptied or written; a
// symlink is no way round it. The reason names what the path is.
TEST(TextFile, OnlyRegularFilesAreOpened) {
    TempDir dir;
    auto files = fixture::MakeNotRegularFiles(dir, ".txt");
    const std::string link = dir.file("link.txt");
    std::filesystem::create_symlink("/dev/full", link);
    files.push_back({link, "a character device"});
    for (const auto& f : files) {
        for (const int mode : {VAL_READ_WRITE, VAL_READ_ONLY, VAL_WRITE_ONLY}) {
            for (const int action : {VAL_TRUNCATE, VAL_APPEND, VAL_OPEN_AS_IS}) {
                SCOPED_TRACE(f.path + ", mode " + std::to_string(mode) + ", action " +
                             std::to_string(action));
                EXPECT_EQ(OpenFile(f.path, mode, action, VAL_ASCII), -1);
                EXPECT_EQ(LastOpenFileError(), "it is " + f.kind + ", not a regular file");
            }
        }
    }
    // Nothing was written into the pipe either: a reader finds it empty.
    const int reader = ::open(files.front().path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);

    const int f = OpenFile(dir.file("log.txt"), VAL_READ_WRITE, VAL_TRUNCATE, VAL_ASCII);
    EXPECT_GE(f, 0);
    EXPECT_EQ(LastOpenFileError(), "");
    CloseFile(f);
    EXPECT_EQ(OpenFile(dir.file("missing.txt"), VAL_READ_ONLY, VAL_OPEN_AS_IS, VAL_ASCII), -1);
    EXPECT_EQ(LastOpenFileError(), "No such file or directory");
}

// A new file is made only under a free name: an existing file, a symlink (even a dangling one)
// and anything that is no regular file are left as they are.
TEST(TextFile, CreateNewNeverOpensAnExistingName) {
    TempDir dir;
    const std::string fresh = dir.file("new.txt");
    int f = OpenFile(fresh, VAL_READ_WRITE, VAL_CREATE_NEW, VAL_ASCII);
    ASSERT_GE(f, 0);
    EXPECT_EQ(WriteLine(f, "ours", -1), 5);
    CloseFile(f);
    const std::string dangling = dir.file("dangling.txt");
    std::filesystem::create_symlink(dir.file("target.txt"), dangling);
    for (const std::string& path : {fresh, dangling}) {
        EXPECT_EQ(OpenFile(path, VAL_READ_WRITE, VAL_CREATE_NEW, VAL_ASCII), -1) << path;
        EXPECT_EQ(LastOpenFileError(), "File exists") << path;
    }
    EXPECT_EQ(Slurp(fresh), "ours\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("target.txt")));
    EXPECT_EQ(OpenFile("/dev/null", VAL_READ_WRITE, VAL_CREATE_NEW, VAL_ASCII), -1);
    EXPECT_EQ(LastOpenFileError(), "it is a character device, not a regular file");
    EXPECT_EQ(OpenFile(dir.file("ro.txt"), VAL_READ_ONLY, VAL_CREATE_NEW, VAL_ASCII), -1);
}

// A file size limit cuts a write short after some bytes: the torn line must be taken back.
TEST(TextFile, ShortWriteIsTakenBackLeavingOnlyWholeLines) {
    TempDir dir;
    for (const int action : {VAL_APPEND, VAL_TRUNCATE}) {
        const std::string path = dir.file("limited" + std::to_string(action) + ".txt");
        const int f = OpenFile(path, VAL_READ_WRITE, action, VAL_ASCII);
        ASSERT_GE(f, 0);
        ASSERT_EQ(WriteLine(f, "first line", -1), 11);

        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = 20;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        const int result = WriteLine(f, "a second line that does not fit", -1);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_LT(result, 0);
        EXPECT_EQ(Slurp(path), "first line\n");
        // Writing goes on where the good lines end.
        EXPECT_EQ(WriteLine(f, "third", -1), 6);
        CloseFile(f);
        EXPECT_EQ(Slurp(path), "first line\nthird\n");
    }
}

}  // namespace
