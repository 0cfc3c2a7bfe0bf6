// Title text repair: whatever bytes a client put in its window's name, what comes out is
// well-formed UTF-8 and cut only between characters.

#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "platform/linux/text/utf8.h"

using namespace platform::linux_impl;

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The repair written the long way: at each position either a whole well-formed character, or
// the longest start of one (at least one byte) replaced by a single U+FFFD.
std::string referenceRepair(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (const std::size_t n = fuzz::wellFormedLength(s, i)) {
            out.append(s.substr(i, n));
            i += n;
            continue;
        }
        const std::size_t start = fuzz::startLength(s, i);
        out += kReplacement;
        i += start > 0 ? start : 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Repair: well-formed, the same as the long way, a fixed point, and no change to text that
    // was fine already.
    const std::string repaired = repairUtf8(input);
    FUZZ_CHECK(fuzz::isWellFormedUtf8(repaired));
    FUZZ_CHECK(repaired == referenceRepair(input));
    FUZZ_CHECK(repairUtf8(repaired) == repaired);
    if (fuzz::isWellFormedUtf8(input))
        FUZZ_CHECK(repaired == input);

    // Cut at every limit around the interesting ones (the first byte picks a limit too): a
    // prefix, within the limit, on a boundary, and no shorter than it has to be.
    const std::size_t chosen = size > 0 ? data[0] : 0;
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3},
                                    chosen, repaired.size() / 2, repaired.size() - repaired.size() / 3,
                                    repaired.size(), repaired.size() + 1}) {
        const std::string cut = cutUtf8(repaired, limit);
        FUZZ_CHECK(cut.size() <= limit);
        FUZZ_CHECK(std::string_view(repaired).starts_with(cut));
        FUZZ_CHECK(fuzz::endsOnBoundary(repaired, cut.size()));
        FUZZ_CHECK(fuzz::isWellFormedUtf8(cut));
        if (limit >= repaired.size())
            FUZZ_CHECK(cut == repaired);
        else
            FUZZ_CHECK(cut.size() + 4 > limit);
    }
    // cutUtf8 is also handed text it was not told is well-formed: it must not read past it.
    for (const std::size_t limit : {std::size_t{0}, chosen, size / 2, size}) {
        const std::string cut = cutUtf8(std::string(input), limit);
        FUZZ_CHECK(cut.size() <= limit || cut.size() == size);
        FUZZ_CHECK(input.starts_with(cut));
    }

    // Latin-1: every byte is a character of its own, one or two bytes long.
    const std::string latin = latin1ToUtf8(input);
    FUZZ_CHECK(fuzz::isWellFormedUtf8(latin));
    std::size_t high = 0;
    for (const unsigned char c : input)
        high += c >= 0x80;
    FUZZ_CHECK(latin.size() == size + high);

    // The tail of a fetch cut short: only an incomplete last character goes, and never more
    // than three bytes of it.
    const std::string_view kept = dropIncompleteTail(input);
    FUZZ_CHECK(input.starts_with(kept));
    FUZZ_CHECK(size - kept.size() <= 3);
    if (fuzz::isWellFormedUtf8(input))
        FUZZ_CHECK(kept == input);
    // Any prefix of well-formed text loses exactly its incomplete last character.
    for (std::size_t n = repaired.size() > 4 ? repaired.size() - 4 : 0; n <= repaired.size(); ++n) {
        const std::string_view prefix = std::string_view(repaired).substr(0, n);
        const std::string_view whole = dropIncompleteTail(prefix);
        FUZZ_CHECK(fuzz::isWellFormedUtf8(whole));
        FUZZ_CHECK(fuzz::endsOnBoundary(repaired, whole.size()));
        FUZZ_CHECK(prefix.size() - whole.size() <= 3);
        if (fuzz::endsOnBoundary(repaired, n))
            FUZZ_CHECK(whole.size() == n);
    }
    return 0;
}
