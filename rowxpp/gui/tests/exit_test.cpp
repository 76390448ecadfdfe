// A GUI program returns from main with windows open and ends cleanly: the
// windows its statics still hold are let go without touching Qt, whose own
// statics may already be gone by then.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// The child's exit status (or 128 + its signal).
int RunChild(const char* mode) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(EXIT_CHILD, EXIT_CHILD, mode, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace

class ProgramEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(ProgramEnd, ReturnsFromMainWithStatusZero) { EXPECT_EQ(RunChild(GetParam()), 0); }

INSTANTIATE_TEST_SUITE_P(WindowsStillOpen, ProgramEnd, ::testing::Values("flash", "destroy", "crt"));
