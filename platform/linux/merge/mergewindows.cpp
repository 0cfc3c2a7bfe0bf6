#include "platform/linux/merge/mergewindows.h"

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace platform::linux_impl {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The X11 window the compositor's entry stands for: by X id, or (where the compositor does not
// give it) the first not yet placed window of the same owner.
std::size_t matchX11(const CompositorWindow& window, const std::vector<WindowInfo>& x11,
                     const std::unordered_map<std::uint64_t, std::size_t>& byId,
                     const std::vector<std::size_t>& placedAt)
{
    if (window.x11Id != 0) {
        const auto it = byId.find(window.x11Id);
        return it != byId.end() && placedAt[it->second] == kNone ? it->second : kNone;
    }
    if (window.pid == 0)
        return kNone;
    for (std::size_t i = 0; i < x11.size(); ++i) {
        if (placedAt[i] == kNone && x11[i].pid == window.pid)
            return i;
    }
    return kNone;
}

}  // namespace

std::vector<WindowInfo> mergeWindows(std::vector<WindowInfo> x11,
                                     const std::vector<CompositorWindow>& compositor)
{
    if (compositor.empty())
        return x11;

    std::unordered_map<std::uint64_t, std::size_t> byId;
    byId.reserve(x11.size());
    for (std::size_t i = 0; i < x11.size(); ++i)
        byId.emplace(x11[i].id, i);

    // First the compositor's order: where each entry goes, and which X11 window sits where.
    struct Slot {
        std::size_t x11 = kNone;                  // an X11 window, or
        const CompositorWindow* native = nullptr;   // a native one
    };
    std::vector<Slot> order;
    order.reserve(compositor.size() + x11.size());
    std::vector<std::size_t> placedAt(x11.size(), kNone);
    for (const CompositorWindow& window : compositor) {
        if (window.x11) {
            const std::size_t i = matchX11(window, x11, byId, placedAt);
            if (i == kNone)
                continue;
            placedAt[i] = order.size();
            order.push_back({i, nullptr});
        } else if (window.pid != 0) {
            order.push_back({kNone, &window});
        }
    }

    // Then the X11 windows the compositor did not name, each after its predecessor in the X11
    // list; those ahead of every named one go in front of the first named one.
    std::optional<std::size_t> firstPlaced;
    for (std::size_t i = 0; i < x11.size() && !firstPlaced; ++i) {
        if (placedAt[i] != kNone)
            firstPlaced = placedAt[i];
    }
    // before[k]: the unnamed X11 windows that go just before slot k (k == order.size(): last).
    std::vector<std::vector<std::size_t>> before(order.size() + 1);
    std::optional<std::size_t> previous;
    for (std::size_t i = 0; i < x11.size(); ++i) {
        if (placedAt[i] != kNone) {
            previous = placedAt[i];
            continue;
        }
        const std::size_t slot = previous ? *previous + 1 : firstPlaced.value_or(order.size());
        before[slot].push_back(i);
    }

    std::vector<WindowInfo> merged;
    merged.reserve(order.size() + x11.size());
    for (std::size_t k = 0; k <= order.size(); ++k) {
        for (const std::size_t i : before[k])
            merged.push_back(std::move(x11[i]));
        if (k == order.size())
            break;
        if (order[k].x11 != kNone) {
            merged.push_back(std::move(x11[order[k].x11]));
        } else {
            const CompositorWindow& window = *order[k].native;
            merged.push_back({window.id, window.title, true, window.pid, window.identity});
        }
    }
    return merged;
}

void markX11Windows(std::vector<CompositorWindow>& compositor, const std::vector<WindowInfo>& x11)
{
    std::unordered_set<std::uint32_t> pids;
    std::unordered_map<std::string, int> unclaimed;   // X11 windows by title, not yet accounted for
    for (const WindowInfo& window : x11) {
        pids.insert(window.pid);
        if (!window.title.empty())
            ++unclaimed[window.title];
    }
    // First the windows whose owner has X11 windows: they are those.
    for (CompositorWindow& window : compositor) {
        window.x11 = pids.contains(window.pid);
        if (const auto it = unclaimed.find(window.title); window.x11 && it != unclaimed.end() && it->second > 0)
            --it->second;
    }
    // Then, of the others, one per X11 window left with the same title: an X11 window under a pid
    // its program wrote. The rest are native, whatever their titles.
    for (CompositorWindow& window : compositor) {
        if (window.x11)
            continue;
        if (const auto it = unclaimed.find(window.title); it != unclaimed.end() && it->second > 0) {
            window.x11 = true;
            --it->second;
        }
    }
}

}  // namespace platform::linux_impl
