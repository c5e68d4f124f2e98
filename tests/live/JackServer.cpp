#include "JackServer.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tav::test {

std::string serverNameFor(const std::string& test) {
    return "tavimo-" + test + "-" + std::to_string(getpid());
}

JackServer::JackServer(const std::string& name, int period) : serverName(name) {
    const std::string periodText = std::to_string(period);
    pid = fork();
    if (pid == 0) {
        // A test that dies must not leave its server behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
        execl(TAVIMO_JACKD, "jackd", "-n", name.c_str(), "-r", "-d", "dummy", "-r", "48000", "-p",
              periodText.c_str(), "-C", "4", "-P", "2", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The server answers once a client can open on it; a few seconds at most on a busy machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
        jack_status_t status{};
        jack_client_t* probe = jack_client_open(
            "probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
            serverName.c_str());
        if (probe != nullptr) {
            jack_client_close(probe);
            answered = true;
            return;
        }
        int exited = 0;
        if (waitpid(pid, &exited, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

JackServer::~JackServer() {
    stop();
}

std::string JackServer::environment() const {
    return "JACK_DEFAULT_SERVER='" + serverName + "' JACK_NO_START_SERVER=1 ";
}

void JackServer::stop() {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
}

} // namespace tav::test
