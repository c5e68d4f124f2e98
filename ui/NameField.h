#pragma once

#include "model/Utf8.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tav::ui {

// The text of the preset name field and its caret: UTF-8, edited a character (code point) at a
// time. It holds only characters the editor's fonts can draw, at most kMaxCharacters of them.
// UI thread only.
class NameField {
public:
    static constexpr int32_t kMaxCharacters = 32;

    // What typing made of the text it was given.
    enum class Typed : int32_t {
        Accepted = 0,  // every character went in (control characters are passed over silently)
        Refused = 1,   // some characters are not drawable by the editor's fonts and were left out
        TooLong = 2,   // the name was full; the rest was left out
        Malformed = 3, // the bytes were not UTF-8; nothing went in
    };

    // Any thread. Whether the editor's fonts (the mono and the sans) both draw the character:
    // printable Latin-1 and a few Latin letters and punctuation marks beyond it.
    static bool drawable(char32_t character);

    // UI thread; allocates. Replaces the text (dropping what is not drawable, and anything past
    // kMaxCharacters) and puts the caret at its end.
    void reset(std::string_view text);
    // UI thread; allocates. Inserts UTF-8 text at the caret, character by character.
    Typed type(std::string_view utf8);
    // UI thread. Removes the character before the caret (Backspace) or after it (Delete).
    void eraseBackward();
    void eraseForward();
    // UI thread. Moves the caret by one character, or to either end.
    void moveLeft();
    void moveRight();
    void moveHome() { caretByte = 0; }
    void moveEnd() { caretByte = static_cast<int32_t>(value.size()); }

    const std::string& text() const { return value; }
    // The caret's position as a byte offset into text(), always at a character's start.
    int32_t caret() const { return caretByte; }
    int32_t characters() const;
    // The text with spaces trimmed from both ends: what a save would name the preset.
    std::string trimmed() const;

private:
    std::string value;
    int32_t caretByte = 0;
};

// Any thread. The byte length of the UTF-8 sequence starting at `text[at]` and its code point;
// 0 when the bytes there are not a valid sequence (or `at` is at the end).
int32_t decodeUtf8(std::string_view text, size_t at, char32_t& character);

using model::encodeUtf8;

} // namespace tav::ui
