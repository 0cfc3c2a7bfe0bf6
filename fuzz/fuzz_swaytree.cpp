// sway's get_tree reply and window events, read as the client reads them (Qt's JSON, then the
// views), and the list kept from them: whatever sway, or whatever holds its socket, sends,
// every view's title is well-formed UTF-8 of at most 1023 bytes, a view has a pid only where
// one can exist, and the list for the merge matches the views one for one.
//
// Input: the tree, then window events, separated by NUL bytes.

#include <cstdint>
#include <string_view>

#include <QByteArray>

#include "check.h"
#include "platform/linux/wayland/swaytree.h"

using namespace platform::linux_impl;

namespace {

void checkViews(SwayViews& views)
{
    const auto& list = views.views();
    const auto& windows = views.windows();
    FUZZ_CHECK(windows.size() == list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        FUZZ_CHECK(list[i].title.size() <= 1023);
        FUZZ_CHECK(fuzz::isWellFormedUtf8(list[i].title));
        FUZZ_CHECK(list[i].xwayland || list[i].window == 0);
        FUZZ_CHECK(windows[i].title == list[i].title && windows[i].pid == list[i].pid);
        FUZZ_CHECK(list[i].pid != 0 || list[i].identity == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const auto next = [&rest] {
        const std::size_t nul = rest.find('\0');
        const std::string_view part = rest.substr(0, nul);
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
        return QByteArray(part.data(), static_cast<qsizetype>(part.size()));
    };

    SwayViews views([](std::uint32_t pid) { return std::uint64_t{pid} * 3 + 1; });
    if (auto tree = parseSwayTree(next()))
        views.reset(std::move(*tree));
    checkViews(views);
    while (!rest.empty()) {
        if (const auto event = parseSwayWindowEvent(next())) {
            FUZZ_CHECK(!event->view.xwayland || event->view.identity == 0);
            views.apply(*event);
        }
        checkViews(views);
    }
    return 0;
}
