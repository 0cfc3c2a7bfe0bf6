#include "platform/linux/text/wmtext.h"

#include <algorithm>

#include "platform/linux/text/utf8.h"
#include "platform/text.h"

namespace platform::linux_impl {
namespace {

std::string_view firstLabel(std::string_view host)
{
    return host.substr(0, host.find('.'));
}

}  // namespace

std::string titleFromBytes(std::string_view bytes, TextEncoding encoding, bool partial)
{
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) {
        bytes = bytes.substr(0, nul);
        partial = false;
    }
    // Some tools store UTF-8 and label it STRING. Well-formed multi-byte UTF-8 is next to
    // impossible in real Latin-1 text, so such bytes are taken for what they are.
    if (encoding == TextEncoding::Latin1 && (partial || repairUtf8(bytes) != bytes))
        return cutUtf8(latin1ToUtf8(bytes), kMaxTitleBytes);
    if (partial)
        bytes = dropIncompleteTail(bytes);
    return cutUtf8(repairUtf8(bytes), kMaxTitleBytes);
}

bool sameMachine(std::string_view clientMachine, std::string_view thisHost)
{
    const std::size_t nul = clientMachine.find('\0');
    clientMachine = clientMachine.substr(0, nul);
    if (clientMachine.empty() || thisHost.empty())
        return false;
    if (equalsIgnoringAsciiCase(clientMachine, thisHost))
        return true;
    // "box" and "box.example.org" are one host; "box.a" and "box.b" are not.
    const bool clientShort = clientMachine.find('.') == std::string_view::npos;
    const bool hostShort = thisHost.find('.') == std::string_view::npos;
    return clientShort != hostShort &&
           equalsIgnoringAsciiCase(firstLabel(clientMachine), firstLabel(thisHost));
}

}  // namespace platform::linux_impl
