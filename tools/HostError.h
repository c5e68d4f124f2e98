#pragma once

#include <stdexcept>

namespace tav::host {

// A failure a user can act on: one line of text, shown as the command's error. Every room of
// the tool throws it, so it sits below them all.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tav::host
