#pragma once
// Making window titles safe to show: well-formed UTF-8 and bounded in size.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::linux_impl {

// Well-formed UTF-8: every ill-formed sequence (stray continuation bytes, overlong forms,
// surrogates, values past U+10FFFF, cut-off sequences) becomes one U+FFFD per maximal
// bad subpart.
std::string repairUtf8(std::string_view text);

// At most `maxBytes` bytes of well-formed UTF-8 `text`, never splitting a character.
std::string cutUtf8(std::string text, std::size_t maxBytes);

// ISO 8859-1 bytes as UTF-8.
std::string latin1ToUtf8(std::string_view text);

// `text` without a multi-byte sequence left incomplete at its very end, as happens when a
// longer text was fetched only in part.
std::string_view dropIncompleteTail(std::string_view text);

}  // namespace platform::linux_impl
