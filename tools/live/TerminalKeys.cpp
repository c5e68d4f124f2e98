#include "tools/live/TerminalKeys.h"

#include <poll.h>
#include <unistd.h>

namespace tav::live {
namespace {

bool readByte(char& byte) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && read(STDIN_FILENO, &byte, 1) == 1;
}

} // namespace

TerminalKeys::TerminalKeys() {
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios mode = saved;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    raw = tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
}

TerminalKeys::~TerminalKeys() {
    if (raw)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

TerminalKeys::Key TerminalKeys::next(char& character) {
    char byte = 0;
    if (!raw || !readByte(byte))
        return kNone;
    if (byte == '\t')
        return kTab;
    if (byte == '\x1b') {
        // An arrow arrives as ESC [ A..D.
        char bracket = 0, code = 0;
        if (readByte(bracket) && bracket == '[' && readByte(code)) {
            switch (code) {
            case 'A':
                return kUp;
            case 'B':
                return kDown;
            case 'C':
                return kRight;
            case 'D':
                return kLeft;
            default:
                break;
            }
        }
        character = '\x1b';
        return kOther;
    }
    character = byte;
    return kOther;
}

} // namespace tav::live
