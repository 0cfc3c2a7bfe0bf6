#pragma once
// Titles in COMPOUND_TEXT, the ISO 2022 encoding older clients (xterm among them) still use
// for WM_NAME whenever the text is not plain Latin-1.

#include <xcb/xcb.h>

#include <string>
#include <string_view>

typedef struct _XDisplay Display;

namespace platform::linux_impl {

// The title as UTF-8 (repaired, cut to kMaxTitleBytes). `partial`: only the start of the
// property was fetched. Without Xlib (display == nullptr) or when decoding fails, the bytes
// are read as Latin-1, which the encoding starts out in.
std::string compoundTextTitle(Display* display, xcb_atom_t compoundText, std::string_view bytes,
                              bool partial);

}  // namespace platform::linux_impl
