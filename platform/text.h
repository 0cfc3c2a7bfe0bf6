#pragma once
// Two small text rules shared by the logic and both backends, without Qt: names compared without
// regard to ASCII case (registry keys, host names), and UTF-8 cut without halving a character.

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace platform {

constexpr char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Locale-free on purpose: a Turkish or any other locale must not change how names match.
inline bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, {}, asciiLower, asciiLower);
}

// How many of the bytes fit in maxBytes without cutting a character in half: the cut steps back
// over continuation bytes. Ill-formed input is not repaired, only never read past its end.
inline std::size_t utf8Prefix(std::string_view bytes, std::size_t maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes.size();
    std::size_t size = maxBytes;
    while (size > 0 && (static_cast<unsigned char>(bytes[size]) & 0xC0) == 0x80)
        --size;
    return size;
}

}  // namespace platform
