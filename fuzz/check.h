#pragma once
// What every fuzz target needs besides the code under test: a failed expectation that
// libFuzzer reports like a crash (with the input saved), and a UTF-8 check written apart from
// the repair code, so that the two cannot share a mistake.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(cond)                                                                    \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

namespace fuzz {

// Well-formed UTF-8 after the table of well-formed byte sequences: the ranges each byte of a
// sequence may take, by its lead byte.
inline std::size_t wellFormedLength(std::string_view s, std::size_t i)
{
    struct Row {
        unsigned char lo0, hi0, lo1, hi1;
        std::size_t length;
    };
    static constexpr Row rows[] = {
        {0x00, 0x7F, 0x00, 0x00, 1}, {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
        {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
        {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
    };
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    for (const Row& r : rows) {
        if (at(i) < r.lo0 || at(i) > r.hi0)
            continue;
        if (i + r.length > s.size())
            return 0;
        if (r.length >= 2 && (at(i + 1) < r.lo1 || at(i + 1) > r.hi1))
            return 0;
        for (std::size_t k = 2; k < r.length; ++k)
            if (at(i + k) < 0x80 || at(i + k) > 0xBF)
                return 0;
        return r.length;
    }
    return 0;
}

// How many bytes from `i` on could begin a well-formed character (a whole one counts too): 0
// when s[i] cannot lead one at all.
inline std::size_t startLength(std::string_view s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    if (c <= 0x7F)
        return 1;
    std::size_t length = 0;
    unsigned char lo1 = 0x80, hi1 = 0xBF;   // the second byte's range, narrower after some leads
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        lo1 = c == 0xE0 ? 0xA0 : 0x80;
        hi1 = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        lo1 = c == 0xF0 ? 0x90 : 0x80;
        hi1 = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    std::size_t k = 1;
    if (i + 1 < s.size() && at(i + 1) >= lo1 && at(i + 1) <= hi1) {
        k = 2;
        while (k < length && i + k < s.size() && at(i + k) >= 0x80 && at(i + k) <= 0xBF)
            ++k;
    }
    return k;
}

inline bool isWellFormedUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = wellFormedLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// Whether `cut` ends on a character boundary of `s` (of which it is a prefix).
inline bool endsOnBoundary(std::string_view s, std::size_t cut)
{
    return cut == s.size() || (static_cast<unsigned char>(s[cut]) & 0xC0) != 0x80;
}

}  // namespace fuzz
