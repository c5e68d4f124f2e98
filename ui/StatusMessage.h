#pragma once

namespace tav::ui {

// The card that tells the user what is missing, with where it stands on the view.
class StatusMessage {
public:
    // Any thread; never allocates. The message for an input state, tested in this order:
    // bypass, both inputs inactive, A inactive, B inactive; nothing when both play.
    static StatusMessage forState(bool bypass, bool activeA, bool activeB);

    bool shown = false;
    float x = 0.0f; // card's top left, view units
    float y = 0.0f;
    const char* title = "";
    const char* body = "";
    bool routeButton = false; // "HOW TO ROUTE", for a missing sidechain
};

} // namespace tav::ui
