#pragma once

#include <cstdint>

// The XEmbed protocol's names and numbers, for the editor's window (the client side) and the
// tests' embedder alike.
namespace tav::ui::xembed {

// The version of the protocol the window speaks: the only one there is.
inline constexpr uint32_t kVersion = 0;

// The property on the client window, [version, flags], 32-bit, of its own name's type.
inline constexpr const char* kInfoAtomName = "_XEMBED_INFO";
// The type of every protocol client message, in either direction.
inline constexpr const char* kMessageAtomName = "_XEMBED";

// A flag of the info property: the client wants to be shown.
inline constexpr uint32_t kFlagMapped = 1u << 0;

// The message numbers (data32[1] of a client message; data32[0] is its time, [2] its detail,
// [3] and [4] its two data words). Others exist; the window ignores them.
enum Message : uint32_t {
    kEmbeddedNotify = 0, // data1: the embedder's window, data2: the protocol version in use
    kWindowActivate = 1,
    kWindowDeactivate = 2,
    kRequestFocus = 3,
    kFocusIn = 4, // detail: one of FocusDetail
    kFocusOut = 5,
};

// Where the focus lands inside the client on kFocusIn.
enum FocusDetail : uint32_t {
    kFocusCurrent = 0,
    kFocusFirst = 1,
    kFocusLast = 2,
};

} // namespace tav::ui::xembed
