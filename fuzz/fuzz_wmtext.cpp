// Window titles from raw property bytes, the way the window list decodes them: whatever a
// client stored, the list gets well-formed UTF-8 without NULs, at most kMaxTitleBytes long.
// COMPOUND_TEXT is decoded by Xlib and needs a display; without one it falls back to Latin-1,
// which is what is run here.
//
// Input: one byte of flags (bit 0 Latin-1, bit 1 fetched in part, bit 2 via the COMPOUND_TEXT
// path), then the property bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "platform/linux/text/compoundtext.h"
#include "platform/linux/text/wmtext.h"

using namespace platform::linux_impl;

namespace {

void checkTitle(const std::string& title)
{
    FUZZ_CHECK(title.size() <= platform::kMaxTitleBytes);
    FUZZ_CHECK(title.find('\0') == std::string::npos);
    FUZZ_CHECK(fuzz::isWellFormedUtf8(title));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned flags = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool partial = (flags & 2) != 0;

    if (flags & 4) {
        checkTitle(compoundTextTitle(nullptr, 0, bytes, partial));
    } else {
        const auto encoding = (flags & 1) ? TextEncoding::Latin1 : TextEncoding::Utf8;
        const std::string title = titleFromBytes(bytes, encoding, partial);
        checkTitle(title);
        // Only what comes before a NUL is the title.
        const std::size_t nul = bytes.find('\0');
        if (nul != std::string_view::npos)
            FUZZ_CHECK(title == titleFromBytes(bytes.substr(0, nul), encoding, false));
        if (encoding == TextEncoding::Utf8 && !partial && nul == std::string_view::npos &&
            bytes.size() <= platform::kMaxTitleBytes && fuzz::isWellFormedUtf8(bytes))
            FUZZ_CHECK(title == bytes);
    }

    // Host names: the bytes split at the first '|' into the client's machine and this host.
    const std::size_t bar = bytes.find('|');
    if (bar != std::string_view::npos) {
        const std::string_view client = bytes.substr(0, bar), host = bytes.substr(bar + 1);
        const bool same = sameMachine(client, host);
        if (client.find('\0') == std::string_view::npos && host.find('\0') == std::string_view::npos)
            FUZZ_CHECK(same == sameMachine(host, client));
        if (client.empty() || host.empty())
            FUZZ_CHECK(!same);
    }
    return 0;
}
