#include "platform/linux/merge/mergewindows.h"

#include <cstddef>
#include <optional>
#include <unordered_map>

namespace platform::linux_impl {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Windows by owner, each owner's in list order, handed out one at a time.
class ByOwner {
public:
    void add(std::uint32_t pid, std::size_t index) { lists_[pid].indices.push_back(index); }
    // The owner's next window not yet handed out for which `free` holds; kNone when none is left.
    template <class Free>
    std::size_t take(std::uint32_t pid, Free free)
    {
        const auto it = lists_.find(pid);
        if (it == lists_.end())
            return kNone;
        List& list = it->second;
        while (list.next < list.indices.size()) {
            const std::size_t index = list.indices[list.next++];
            if (free(index))
                return index;
        }
        return kNone;
    }

private:
    struct List {
        std::vector<std::size_t> indices;
        std::size_t next = 0;
    };
    std::unordered_map<std::uint32_t, List> lists_;
};

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
    const auto unplaced = [&placedAt](std::size_t i) { return placedAt[i] == kNone; };
    // Only for a compositor that gives no X ids: its X11 windows by owner.
    std::optional<ByOwner> byOwner;
    for (const CompositorWindow& window : compositor) {
        if (window.x11) {
            std::size_t i = kNone;
            if (window.x11Id != 0) {
                const auto it = byId.find(window.x11Id);
                i = it != byId.end() && unplaced(it->second) ? it->second : kNone;
            } else if (window.pid != 0) {
                if (!byOwner) {
                    byOwner.emplace();
                    for (std::size_t k = 0; k < x11.size(); ++k)
                        byOwner->add(x11[k].pid, k);
                }
                i = byOwner->take(window.pid, unplaced);
            }
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
            merged.push_back(
                {window.id, window.title, true, window.pid, window.identity, window.foreignPid});
        }
    }
    return merged;
}

bool sameCaption(std::string_view caption, std::string_view title)
{
    if (caption.substr(0, title.size()) != title)
        return false;
    std::string_view rest = caption.substr(title.size());
    if (rest.empty())
        return true;
    constexpr std::string_view kLeftToRightMark = "\u200E";
    if (rest.size() >= kLeftToRightMark.size() &&
        rest.substr(rest.size() - kLeftToRightMark.size()) == kLeftToRightMark)
        rest.remove_suffix(kLeftToRightMark.size());
    if (rest.size() < 4 || rest.substr(0, 2) != " <" || rest.back() != '>')
        return false;
    const std::string_view number = rest.substr(2, rest.size() - 3);
    return number.find_first_not_of("0123456789") == std::string_view::npos;
}

void markX11Windows(std::vector<CompositorWindow>& compositor, const std::vector<WindowInfo>& x11,
                    const std::function<std::uint32_t(std::uint64_t)>& writtenPid)
{
    // First by owner: the compositor's entry is the owner's next X11 window.
    ByOwner byOwner;
    for (std::size_t k = 0; k < x11.size(); ++k)
        byOwner.add(x11[k].pid, k);
    std::vector<bool> claimed(x11.size(), false);
    const auto unclaimed = [&claimed](std::size_t k) { return !claimed[k]; };
    std::unordered_map<std::uint32_t, std::vector<std::size_t>> nativeByPid;   // entries left
    for (std::size_t e = 0; e < compositor.size(); ++e) {
        CompositorWindow& window = compositor[e];
        const std::size_t k = window.pid != 0 ? byOwner.take(window.pid, unclaimed) : kNone;
        window.x11 = k != kNone;
        window.x11Id = k != kNone ? x11[k].id : 0;
        if (k != kNone)
            claimed[k] = true;
        else if (window.pid != 0)
            nativeByPid[window.pid].push_back(e);
    }
    if (nativeByPid.empty())
        return;   // the usual case: every pid was the owner's, and nothing need be asked

    // Then by the pid each X11 window left wrote: the entry under it is that window.
    for (std::size_t k = 0; k < x11.size(); ++k) {
        if (claimed[k] || !x11[k].visible)
            continue;
        const std::uint32_t written = writtenPid(x11[k].id);
        const auto it = written != 0 ? nativeByPid.find(written) : nativeByPid.end();
        if (it == nativeByPid.end())
            continue;
        std::vector<std::size_t>& entries = it->second;
        std::size_t pick = 0;
        for (std::size_t j = 0; j < entries.size(); ++j) {
            if (sameCaption(compositor[entries[j]].title, x11[k].title)) {
                pick = j;
                break;
            }
        }
        CompositorWindow& window = compositor[entries[pick]];
        window.x11 = true;
        window.x11Id = x11[k].id;
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(pick));
        if (entries.empty())
            nativeByPid.erase(it);
    }
}

}  // namespace platform::linux_impl
