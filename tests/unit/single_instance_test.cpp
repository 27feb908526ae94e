#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/single_instance.h"

namespace {

// In the shared temporary folder another user can make the lock file first
// and hold it: that must not keep this user's program from running.
TEST(SingleInstance, ALockFileOfAnotherUserDoesNotDecide) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
    const auto folder = std::filesystem::temp_directory_path() / ("sealdesk-lock-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const char* saved_runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string runtime = saved_runtime ? saved_runtime : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", folder.c_str(), 1);

    const std::string path = sealdesk::platform::single_instance_lock_path();
    const int planted = open(path.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(planted, 0);
    ASSERT_EQ(fchown(planted, 65534, 65534), 0);
    ASSERT_EQ(flock(planted, LOCK_EX | LOCK_NB), 0);

    EXPECT_TRUE(sealdesk::platform::claim_single_instance());

    close(planted);
    std::filesystem::remove_all(folder);
    unsetenv("TMPDIR");
    if (saved_runtime) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

}  // namespace
