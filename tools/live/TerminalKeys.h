#pragma once

#include <termios.h>

namespace tav::live {

// The keys a person presses in the terminal, one at a time and unechoed, while the program
// runs. The terminal's own mode comes back when this goes (Ctrl+C still interrupts).
class TerminalKeys {
public:
    enum Key { kNone, kLeft, kRight, kUp, kDown, kTab, kOther };

    // Main thread. Raw mode when standard input is a terminal; otherwise no keys ever come.
    TerminalKeys();
    // Main thread. Restores the terminal.
    ~TerminalKeys();
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;

    // Main thread; never waits. The next key pressed, kNone when there is none; for kOther,
    // character holds it.
    Key next(char& character);
    bool active() const { return raw; }

private:
    bool raw = false;
    termios saved{};
};

} // namespace tav::live
