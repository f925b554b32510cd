#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

namespace {

TEST(ChildProcess, CollectsBothStreamsAndTheExitStatus) {
    auto r =
        platform::runChild("/bin/sh", {"-c", "printf out; printf err >&2; exit 3"}, {.keepErrBytes = 100});
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->exited);
    EXPECT_EQ(r->exitStatus, 3);
    EXPECT_EQ(r->out, "out");
    EXPECT_EQ(r->err, "err");
}

TEST(ChildProcess, DrainsOutputsLargerThanAPipeOnBothStreams) {
    // 1 MiB on standard error first, then 1 MiB on standard output: a reader that took only standard
    // output, or waited for the exit first, would hang here.
    auto r = platform::runChild(
        "/bin/sh", {"-c", "head -c 1048576 /dev/zero >&2; head -c 1048576 /dev/zero; echo done"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->exitStatus, 0);
    EXPECT_EQ(r->out.size(), 1048576u + 5);
    EXPECT_TRUE(r->err.empty());  // read to its end, nothing kept
}

TEST(ChildProcess, ReportsSignalsAndProgramsThatCannotStart) {
    auto killed = platform::runChild("/bin/sh", {"-c", "kill -TERM $$"});
    ASSERT_TRUE(killed);
    EXPECT_FALSE(killed->exited);
    EXPECT_EQ(killed->signal, SIGTERM);
    EXPECT_FALSE(platform::runChild("/no/such/program", {}));
    EXPECT_FALSE(platform::runChild(std::filesystem::temp_directory_path().string(), {}));  // a folder
    EXPECT_FALSE(platform::runChild("sh", {}));                                             // no search path
}

}  // namespace
