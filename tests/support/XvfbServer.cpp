#include "support/XvfbServer.h"

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tav::test {
namespace {

constexpr int kStartTimeoutMs = 10000;

// Reads the display number Xvfb writes, one line, or nothing on a time-out or end of file.
std::string readDisplayNumber(int fd) {
    std::string number;
    char c = 0;
    for (;;) {
        pollfd waitFor{fd, POLLIN, 0};
        if (poll(&waitFor, 1, kStartTimeoutMs) <= 0 || read(fd, &c, 1) != 1)
            return {};
        if (c == '\n')
            return number;
        number.push_back(c);
    }
}

} // namespace

XvfbServer::XvfbServer(int width, int height, const std::vector<std::string>& options) {
    int fds[2];
    if (pipe(fds) != 0)
        return;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string displayFd = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb", "-displayfd", displayFd, "-screen", "0",
                                     screen, "-nolisten",  "tcp",     "-noreset"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
    const int spawned = posix_spawnp(&pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        pid = -1;
        close(fds[0]);
        return;
    }
    const std::string number = readDisplayNumber(fds[0]);
    close(fds[0]);
    if (!number.empty())
        displayName = ":" + number;
}

XvfbServer::~XvfbServer() {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

} // namespace tav::test
