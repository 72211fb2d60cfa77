// The tovani-demo-sites program: prints its hosts, serves them, and ends cleanly on SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/demo/demo_client.h"

extern char** environ;

namespace tovani::demo {
namespace {

struct Child {
    pid_t pid = -1;
    int out = -1; ///< read end of its stdout
};

Child spawn_program(std::vector<std::string> args) {
    args.insert(args.begin(), TOVANI_DEMO_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    Child child;
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        child.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    child.out = pipe_fds[0];
    return child;
}

// Lines of the child's output until `count` lines arrived, it closed stdout, or 20 s passed.
std::vector<std::string> read_lines(int fd, std::size_t count) {
    std::vector<std::string> lines;
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) {
            continue;
        }
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, eol));
            pending.erase(0, eol + 1);
        }
    }
    return lines;
}

int wait_exit_code(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(DemoProgram, PrintsItsHostsServesThemAndStopsOnSigterm) {
    Child child = spawn_program({"--free-ports", "--scale-chapters", "30", "--latency-ms", "50"});
    ASSERT_GT(child.pid, 0);
    const std::vector<std::string> lines = read_lines(child.out, 18);
    ASSERT_EQ(lines.size(), 18u);
    for (int source = 1; source <= 9; ++source) {
        SCOPED_TRACE(source);
        const std::string& url_line = lines[static_cast<std::size_t>(source - 1)];
        const std::string& env_line = lines[static_cast<std::size_t>(source + 8)];
        const std::string prefix = std::to_string(source) + " ";
        ASSERT_EQ(url_line.rfind(prefix, 0), 0u) << url_line;
        const std::string root = url_line.substr(prefix.size());
        const bool https = source == 1 || source == 4 || source == 8;
        EXPECT_EQ(root.rfind(https ? "https://127.0.0.1:" : "http://127.0.0.1:", 0), 0u);
        const std::string host = root.substr(root.find("://") + 3);
        EXPECT_EQ(env_line, "TOVANI_SITE_HOST_" + std::to_string(source) + "=" + host);

        const std::string book = source == 2   ? "/biquge_900/"
                                 : source == 9 ? "/novel/900/"
                                               : "/book/900/";
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(test::fetch(root, book + "30.html").status, 200);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
        EXPECT_EQ(test::fetch(root, book + "31.html").status, 404); // --scale-chapters 30
    }
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(wait_exit_code(child.pid), 0);
    ::close(child.out);
}

TEST(DemoProgram, RejectsRatesOutsideZeroToOne) {
    Child child = spawn_program({"--free-ports", "--fault-500", "1.5"});
    ASSERT_GT(child.pid, 0);
    EXPECT_TRUE(read_lines(child.out, 1).empty());
    EXPECT_NE(wait_exit_code(child.pid), 0);
    ::close(child.out);
}

} // namespace
} // namespace tovani::demo
