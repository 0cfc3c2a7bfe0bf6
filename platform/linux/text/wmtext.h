#pragma once
// Turning the raw bytes of window properties into what the window list shows.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform::linux_impl {

enum class TextEncoding { Utf8, Latin1 };

// A title from property bytes: up to the first NUL (a text list's separator), converted to
// UTF-8, repaired and cut to kMaxTitleBytes. `partial` says the property was fetched only in
// part, so a character cut off at the end is dropped rather than shown as a bad one.
std::string titleFromBytes(std::string_view bytes, TextEncoding encoding, bool partial);

// Whether the WM_CLIENT_MACHINE of a window names this host (a short and a full name of the
// same host match).
bool sameMachine(std::string_view clientMachine, std::string_view thisHost);

}  // namespace platform::linux_impl
