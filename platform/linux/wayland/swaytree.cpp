#include "platform/linux/wayland/swaytree.h"

#include <algorithm>
#include <unordered_map>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/linux/text/utf8.h"

namespace platform::linux_impl {
namespace {

// sway's container ids are small whole numbers; anything else (a fraction, a number past 2^53,
// not a number) names no container of sway's, and must not reach a conversion that has no
// answer for it.
std::int64_t idOf(const QJsonValue& value)
{
    const double id = value.toDouble(-1);
    return id >= 0 && id <= 9007199254740992.0 ? static_cast<std::int64_t>(id) : -1;
}

// A container that is a view (sway gives views, and only them, a pid and a shell).
std::optional<SwayView> viewOf(const QJsonObject& node)
{
    const QJsonValue shell = node.value(QLatin1String("shell"));
    const QJsonValue pid = node.value(QLatin1String("pid"));
    if (!shell.isString() || !pid.isDouble())
        return std::nullopt;
    SwayView view;
    view.id = idOf(node.value(QLatin1String("id")));
    const double p = pid.toDouble();
    view.pid = p > 0 && p <= 4294967295.0 ? static_cast<std::uint32_t>(p) : 0;
    view.xwayland = shell.toString() == QLatin1String("xwayland");
    if (view.xwayland) {
        const double w = node.value(QLatin1String("window")).toDouble();
        view.window = w > 0 && w <= 4294967295.0 ? static_cast<std::uint64_t>(w) : 0;
    }
    view.floating = node.value(QLatin1String("type")).toString() == QLatin1String("floating_con");
    // JSON strings reach us as well-formed text; sway gives null where it could not read one.
    const QJsonValue name = node.value(QLatin1String("name"));
    if (name.isString())
        view.title = cutUtf8(name.toString().toStdString(), kMaxTitleBytes);
    return view;
}

void walk(const QJsonObject& node, std::vector<SwayView>& out, int depth)
{
    if (depth > 64)   // sway nests a few levels; anything deeper is not a tree of its
        return;
    if (auto view = viewOf(node)) {
        out.push_back(std::move(*view));
        return;
    }
    // Children in focus order: the focus list names them by id, most recent first.
    std::vector<QJsonObject> children;
    std::unordered_map<std::int64_t, std::size_t> index;
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue child : node.value(QLatin1String(key)).toArray()) {
            if (!child.isObject())
                continue;
            const QJsonObject object = child.toObject();
            index.emplace(idOf(object.value(QLatin1String("id"))),
                          children.size());
            children.push_back(object);
        }
    }
    std::vector<bool> done(children.size(), false);
    for (const QJsonValue id : node.value(QLatin1String("focus")).toArray()) {
        const auto it = index.find(idOf(id));
        if (it == index.end() || done[it->second])
            continue;
        done[it->second] = true;
        walk(children[it->second], out, depth + 1);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (!done[i])
            walk(children[i], out, depth + 1);
    }
}

}  // namespace

std::optional<std::vector<SwayView>> parseSwayTree(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    std::vector<SwayView> views;
    walk(document.object(), views, 0);
    return views;
}

std::optional<SwayWindowEvent> parseSwayWindowEvent(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject event = document.object();
    const QJsonValue change = event.value(QLatin1String("change"));
    auto view = viewOf(event.value(QLatin1String("container")).toObject());
    if (!change.isString() || !view)
        return std::nullopt;
    return SwayWindowEvent{change.toString().toStdString(), std::move(*view)};
}

SwayViews::SwayViews(std::function<std::uint64_t(std::uint32_t)> startTime)
    : startTime_(std::move(startTime))
{
}

void SwayViews::setPeer(bool believePids, bool foreignPids)
{
    believePids_ = believePids;
    foreignPids_ = foreignPids;
    changed_ = true;
}

void SwayViews::identify(SwayView& view, const SwayView* known)
{
    if (!believePids_)
        view.pid = 0;
    if (view.xwayland || view.pid == 0)
        return;
    view.identity = known != nullptr && known->pid == view.pid ? known->identity
                                                                 : startTime_(view.pid);
}

void SwayViews::reset(std::vector<SwayView> views)
{
    for (SwayView& view : views) {
        const auto it = find(view.id);
        identify(view, it != views_.end() ? &*it : nullptr);
    }
    views_ = std::move(views);
    changed_ = true;
}

void SwayViews::clear()
{
    views_.clear();
    changed_ = true;
}

std::vector<SwayView>::iterator SwayViews::find(std::int64_t id)
{
    return std::find_if(views_.begin(), views_.end(),
                        [id](const SwayView& view) { return view.id == id; });
}

void SwayViews::apply(const SwayWindowEvent& event)
{
    changed_ = true;
    auto it = find(event.view.id);
    if (event.change == "close") {
        if (it != views_.end())
            views_.erase(it);
        return;
    }
    SwayView view = event.view;
    identify(view, it != views_.end() ? &*it : nullptr);
    if (event.change == "focus") {
        // The most recently focused view goes first, the others keep their order.
        if (it == views_.end()) {
            views_.insert(views_.begin(), std::move(view));
        } else {
            *it = std::move(view);
            std::rotate(views_.begin(), it, it + 1);
        }
        return;
    }
    // Anything else (new, title, move, floating, ...) brings the view's description up to date;
    // a view not seen before has not had the focus yet, so it goes last.
    if (it == views_.end())
        views_.push_back(std::move(view));
    else
        *it = std::move(view);
}

const std::vector<CompositorWindow>& SwayViews::windows()
{
    if (!changed_)
        return windows_;
    windows_.clear();
    windows_.reserve(views_.size());
    for (const SwayView& view : views_) {
        windows_.push_back({static_cast<std::uint64_t>(view.id), view.xwayland, view.window,
                            view.title, view.pid, view.identity, foreignPids_});
    }
    changed_ = false;
    return windows_;
}

}  // namespace platform::linux_impl
