#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tav::test {

// A private X server for one test: Xvfb picks a free display number itself (-displayfd), so
// tests can run in parallel; stopped when the object goes. No server (Xvfb missing, or it did
// not start within a few seconds) leaves ok() false.
class XvfbServer {
public:
    // `options` go on the server's command line (for example {"-extension", "MIT-SHM"}).
    explicit XvfbServer(int width = 1600, int height = 1200,
                        const std::vector<std::string>& options = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return !displayName.empty(); }
    // ":N", for XOpenDisplay / xcb_connect or the DISPLAY of a child process.
    const std::string& display() const { return displayName; }

private:
    pid_t pid = -1;
    std::string displayName;
};

} // namespace tav::test
