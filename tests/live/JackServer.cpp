#include "JackServer.h"

#include <jack/jack.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tav::test {
namespace {

// JACK's registry of servers, shared by every server of the user: a fixed header, then one slot
// per server (its pid and name). JACK frees a dead server's slot only when a server of the same
// name starts again, and a server killed at the wrong moment never frees its own, so servers
// with names of their own fill it up for good: after eight, jackd says "Too many servers already
// active". Dead slots are cleared here, under JACK's own lock, as JACK would clear them.
constexpr const char* kRegistryName = "/jack-shm-registry";
constexpr uint32_t kRegistryMagic = 0x4a41434b; // "JACK"
constexpr key_t kRegistryLockKey = 0x282929;
constexpr size_t kServersOffset = 24;   // magic, protocol, shm type, size, header and entry lengths
constexpr size_t kServerSlotSize = 264; // pid and name

bool processIsGone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

void withRegistryLock(int lock, short change) {
    sembuf operation{0, change, SEM_UNDO};
    while (semop(lock, &operation, 1) != 0 && errno == EINTR) {
    }
}

void clearDeadServers() {
    const int file = shm_open(kRegistryName, O_RDWR, 0);
    if (file < 0)
        return; // no registry yet: jackd makes a fresh one
    struct stat info {};
    if (fstat(file, &info) != 0 || static_cast<size_t>(info.st_size) < kServersOffset) {
        close(file);
        return;
    }
    const auto size = static_cast<size_t>(info.st_size);
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    close(file);
    if (mapped == MAP_FAILED)
        return;
    auto* bytes = static_cast<unsigned char*>(mapped);
    uint32_t magic = 0, headerLength = 0;
    std::memcpy(&magic, bytes, sizeof magic);
    std::memcpy(&headerLength, bytes + 16, sizeof headerLength);
    const int lock = semget(kRegistryLockKey, 1, 0);
    if (magic == kRegistryMagic && headerLength <= size && lock >= 0) {
        withRegistryLock(lock, -1);
        for (size_t slot = kServersOffset; slot + kServerSlotSize <= headerLength;
             slot += kServerSlotSize) {
            pid_t pid = 0;
            std::memcpy(&pid, bytes + slot, sizeof pid);
            if (pid > 0 && processIsGone(pid))
                std::memset(bytes + slot, 0, kServerSlotSize);
        }
        withRegistryLock(lock, 1);
    }
    munmap(mapped, size);
}

} // namespace

std::string serverNameFor(const std::string& test) {
    return "tavimo-" + test + "-" + std::to_string(getpid());
}

JackServer::JackServer(const std::string& name, int period, const std::filesystem::path& log)
    : serverName(name), logPath(log) {
    clearDeadServers();
    const std::string periodText = std::to_string(period);
    pid = fork();
    if (pid == 0) {
        // A test that dies must not leave its server behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int output = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
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

std::string JackServer::output() const {
    std::ifstream file(logPath);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
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
