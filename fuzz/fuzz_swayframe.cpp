// sway's IPC framing, the way the client reads its socket: whatever a peer sends, each message
// taken is exactly the bytes it spans, none claims more than sway ever sends, and reading the
// same bytes in two pieces (as two reads from the socket give them) takes the same messages.
//
// Input: one byte giving where the stream is cut in two, then the stream.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "platform/linux/wayland/swayframe.h"

using namespace platform::linux_impl;

namespace {

struct Taken {
    std::vector<SwayMessage> messages;
    bool bad = false;
};

// As the client does: append what arrives, take every whole message, keep the rest.
Taken takeAll(const std::vector<std::string_view>& pieces)
{
    Taken taken;
    std::string inbox;
    for (const std::string_view piece : pieces) {
        inbox.append(piece);
        std::string_view rest = inbox;
        for (;;) {
            const std::string_view before = rest;
            auto message = takeSwayMessage(rest, &taken.bad);
            if (!message)
                break;
            FUZZ_CHECK(message->payload.size() <= kSwayLargestMessage);
            const std::string frame = swayFrame(message->type, message->payload);
            FUZZ_CHECK(before.substr(0, frame.size()) == frame);
            FUZZ_CHECK(rest.size() + frame.size() == before.size());
            taken.messages.push_back(std::move(*message));
        }
        if (taken.bad)
            return taken;
        inbox.erase(0, inbox.size() - rest.size());
        // What stays is no whole message: at most a header and part of its payload.
        FUZZ_CHECK(inbox.size() < 14 + std::size_t{kSwayLargestMessage});
    }
    return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cut = stream.empty() ? 0 : data[0] % (stream.size() + 1);

    const Taken whole = takeAll({stream});
    const Taken split = takeAll({stream.substr(0, cut), stream.substr(cut)});
    FUZZ_CHECK(whole.bad == split.bad);
    if (!whole.bad) {
        FUZZ_CHECK(whole.messages.size() == split.messages.size());
        for (std::size_t i = 0; i < whole.messages.size(); ++i) {
            FUZZ_CHECK(whole.messages[i].type == split.messages[i].type);
            FUZZ_CHECK(whole.messages[i].payload == split.messages[i].payload);
        }
    }
    return 0;
}
