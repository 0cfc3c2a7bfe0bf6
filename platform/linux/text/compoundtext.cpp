#include "platform/linux/text/compoundtext.h"

#include <optional>
#include <vector>

#include "platform/linux/text/wmtext.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace platform::linux_impl {
namespace {

std::optional<std::string> decode(Display* display, xcb_atom_t compoundText, std::string_view bytes)
{
    std::vector<unsigned char> value(bytes.begin(), bytes.end());
    value.push_back(0);
    XTextProperty property{};
    property.value = value.data();
    property.encoding = compoundText;
    property.format = 8;
    property.nitems = bytes.size();
    char** list = nullptr;
    int count = 0;
    // A positive result counts characters that had no UTF-8 form; they come out as a default
    // character, which is still a usable title.
    const int rc = Xutf8TextPropertyToTextList(display, &property, &list, &count);
    std::optional<std::string> text;
    if (rc >= Success && list != nullptr && count > 0 && list[0] != nullptr)
        text = std::string(list[0]);
    if (list != nullptr)
        XFreeStringList(list);
    return text;
}

}  // namespace

std::string compoundTextTitle(Display* display, xcb_atom_t compoundText, std::string_view bytes,
                              bool partial)
{
    if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) {
        bytes = bytes.substr(0, nul);   // the first text of a list is all there is of it
        partial = false;
    }
    // A fetch that stopped inside a two-byte character loses just that character in decoding,
    // but one that stopped inside an escape sequence would leave its bytes as text: drop an
    // escape near the end (nothing follows it that it could apply to).
    if (partial) {
        constexpr std::size_t kLongestEscape = 6;
        const std::size_t from = bytes.size() > kLongestEscape ? bytes.size() - kLongestEscape : 0;
        if (const std::size_t esc = bytes.find('\x1b', from); esc != std::string_view::npos)
            bytes = bytes.substr(0, esc);
    }
    if (display != nullptr && !bytes.empty()) {
        if (auto text = decode(display, compoundText, bytes))
            return titleFromBytes(*text, TextEncoding::Utf8, false);
    }
    return titleFromBytes(bytes, TextEncoding::Latin1, false);
}

}  // namespace platform::linux_impl
