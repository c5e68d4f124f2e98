#include "ui/NameField.h"

namespace tav::ui {
namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Control characters arrive with keys that have their own meaning (Return, Tab, Backspace on
// some systems): they are not typing.
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

} // namespace

int32_t decodeUtf8(std::string_view text, size_t at, char32_t& character) {
    if (at >= text.size())
        return 0;
    const auto lead = static_cast<unsigned char>(text[at]);
    int32_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        character = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + static_cast<size_t>(length) > text.size())
        return 0;
    for (int32_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + static_cast<size_t>(i)]);
        if (!isContinuation(byte))
            return 0;
        value = (value << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode's end are not UTF-8.
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    character = value;
    return length;
}

bool NameField::drawable(char32_t c) {
    // What both Departure Mono and Anybody hold, read from their character maps; the no-break
    // and soft hyphen are left out, since a name shows neither.
    if (c >= 0x20 && c <= 0x7E)
        return true;
    if (c >= 0xA1 && c <= 0xFF)
        return c != 0xAD;
    switch (c) {
    case 0x0102: // Ă
    case 0x0131: // ı
    case 0x0152: // Œ
    case 0x0153: // œ
    case 0x2013: // en dash
    case 0x2014: // em dash
    case 0x2018: // quotes
    case 0x2019:
    case 0x201A:
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x2022: // bullet
    case 0x2026: // ellipsis
    case 0x2039: // single guillemets
    case 0x203A:
    case 0x20AC: // euro
        return true;
    default:
        return false;
    }
}

void NameField::reset(std::string_view text) {
    value.clear();
    caretByte = 0;
    type(text);
    moveEnd();
}

NameField::Typed NameField::type(std::string_view utf8) {
    // Checked whole first: bytes that are not UTF-8 leave the text as it was.
    for (size_t at = 0; at < utf8.size();) {
        char32_t c = 0;
        const int32_t length = decodeUtf8(utf8, at, c);
        if (length == 0)
            return Typed::Malformed;
        at += static_cast<size_t>(length);
    }
    Typed result = Typed::Accepted;
    int32_t count = characters();
    for (size_t at = 0; at < utf8.size();) {
        char32_t c = 0;
        const auto length = static_cast<size_t>(decodeUtf8(utf8, at, c));
        const std::string_view piece = utf8.substr(at, length);
        at += length;
        if (isControl(c))
            continue;
        if (!drawable(c)) {
            result = result == Typed::TooLong ? result : Typed::Refused;
            continue;
        }
        if (count >= kMaxCharacters) {
            result = Typed::TooLong;
            continue;
        }
        value.insert(static_cast<size_t>(caretByte), piece);
        caretByte += static_cast<int32_t>(piece.size());
        ++count;
    }
    return result;
}

void NameField::eraseBackward() {
    if (caretByte == 0)
        return;
    const int32_t end = caretByte;
    moveLeft();
    value.erase(static_cast<size_t>(caretByte), static_cast<size_t>(end - caretByte));
}

void NameField::eraseForward() {
    const int32_t start = caretByte;
    moveRight();
    value.erase(static_cast<size_t>(start), static_cast<size_t>(caretByte - start));
    caretByte = start;
}

void NameField::moveLeft() {
    while (caretByte > 0) {
        --caretByte;
        if (!isContinuation(static_cast<unsigned char>(value[static_cast<size_t>(caretByte)])))
            break;
    }
}

void NameField::moveRight() {
    const auto size = static_cast<int32_t>(value.size());
    while (caretByte < size) {
        ++caretByte;
        if (caretByte == size ||
            !isContinuation(static_cast<unsigned char>(value[static_cast<size_t>(caretByte)])))
            break;
    }
}

int32_t NameField::characters() const {
    int32_t count = 0;
    for (const char byte : value)
        count += isContinuation(static_cast<unsigned char>(byte)) ? 0 : 1;
    return count;
}

std::string NameField::trimmed() const {
    const size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const size_t last = value.find_last_not_of(' ');
    return value.substr(first, last - first + 1);
}

} // namespace tav::ui
