#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace tav::test {

// A JACK server of its own for one test, on the dummy back end (no sound card needed): 48 kHz,
// 4 capture and 2 playback ports, started under a name nobody else uses and waited for until it
// answers. Stopped when the object goes, or earlier by stop(). What jackd prints goes to log.
class JackServer {
public:
    // Starts `jackd -n name -r -d dummy -r 48000 -p period -C 4 -P 2`.
    JackServer(const std::string& name, int period, const std::filesystem::path& log);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // True once the server answered a client.
    bool ok() const { return answered; }
    // What jackd printed so far: why it did not start, when it did not.
    std::string output() const;
    const std::string& name() const { return serverName; }
    // The environment a client process needs to find this server, as a shell prefix.
    std::string environment() const;
    // Ends the server (SIGTERM) and waits for it.
    void stop();

private:
    std::string serverName;
    std::filesystem::path logPath;
    pid_t pid = -1;
    bool answered = false;
};

// A name for a test's server: the test's own and the process id, so runs never share one.
std::string serverNameFor(const std::string& test);

} // namespace tav::test
