#include "platform/linux/text/utf8.h"

#include "platform/text.h"

namespace platform::linux_impl {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length a lead byte announces and the allowed range of the byte after it (this is where
// overlong forms, surrogates and values past U+10FFFF are shut out); 0 for a byte that cannot
// start a sequence.
struct Lead {
    std::size_t length;
    unsigned char low, high;
};

Lead leadOf(unsigned char c)
{
    if (c < 0x80)
        return {1, 0, 0};
    if (c >= 0xC2 && c <= 0xDF)
        return {2, 0x80, 0xBF};
    if (c == 0xE0)
        return {3, 0xA0, 0xBF};
    if (c == 0xED)
        return {3, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {3, 0x80, 0xBF};
    if (c == 0xF0)
        return {4, 0x90, 0xBF};
    if (c >= 0xF1 && c <= 0xF3)
        return {4, 0x80, 0xBF};
    if (c == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::string repairUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Lead lead = leadOf(static_cast<unsigned char>(text[i]));
        if (lead.length == 1) {
            out += text[i++];
            continue;
        }
        if (lead.length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < lead.length && i + k < text.size(); ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            const bool ok = k == 1 ? c >= lead.low && c <= lead.high : isContinuation(c);
            if (!ok)
                break;
        }
        if (k == lead.length)
            out.append(text.substr(i, k));
        else
            out += kReplacement;
        i += k;
    }
    return out;
}

std::string cutUtf8(std::string text, std::size_t maxBytes)
{
    text.resize(utf8Prefix(text, maxBytes));
    return text;
}

std::string latin1ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string_view dropIncompleteTail(std::string_view text)
{
    // Look back over at most three continuation bytes for the lead byte they belong to.
    std::size_t start = text.size();
    while (start > 0 && text.size() - start < 3 &&
           isContinuation(static_cast<unsigned char>(text[start - 1])))
        --start;
    if (start == 0)
        return text;
    const Lead lead = leadOf(static_cast<unsigned char>(text[start - 1]));
    if (lead.length > 1 && text.size() - (start - 1) < lead.length)
        return text.substr(0, start - 1);
    return text;
}

}  // namespace platform::linux_impl
