// Text files: whole lines, and a write that fails midway leaves no part of its line behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

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

TEST(TextFile, FullDeviceFailsTheWrite) {
    const int f = OpenFile("/dev/full", VAL_WRITE_ONLY, VAL_OPEN_AS_IS, VAL_ASCII);
    ASSERT_GE(f, 0);
    EXPECT_LT(WriteLine(f, "no space", -1), 0);
    CloseFile(f);
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
