#include "ui/StatusMessage.h"

namespace tav::ui {
namespace {

StatusMessage makeMessage(float x, float y, const char* title, const char* body, bool routeButton) {
    StatusMessage message;
    message.shown = true;
    message.x = x;
    message.y = y;
    message.title = title;
    message.body = body;
    message.routeButton = routeButton;
    return message;
}

} // namespace

StatusMessage StatusMessage::forState(bool bypass, bool activeA, bool activeB) {
    if (bypass)
        return makeMessage(404.0f, 157.0f, "Bypassed", "You hear A, unchanged.", false);
    if (!activeA && !activeB)
        return makeMessage(404.0f, 152.0f, "Waiting for sound",
                           "Press play in your DAW. A comes from this track, B from the sidechain.",
                           false);
    if (!activeA)
        return makeMessage(68.0f, 152.0f, "A is silent",
                           "Play something on the track this plugin sits on.", false);
    if (!activeB)
        return makeMessage(408.0f, 139.0f, "B has no signal",
                           "Send another track to this plugin's sidechain input in your DAW, and "
                           "press play.",
                           true);
    return StatusMessage{};
}

} // namespace tav::ui
