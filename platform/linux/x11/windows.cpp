#include "platform/linux/x11/windows.h"

#include <QSocketNotifier>

#include <unistd.h>
#include <xcb/res.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/proc/names.h"
#include "platform/linux/x11/xreplies.h"

namespace platform::linux_impl {
namespace {

// How long one refresh may wait for the server, and how often a refresh may try to reconnect.
constexpr auto kPatience = std::chrono::milliseconds(250);
constexpr std::int64_t kRetryMs = 2000;
// Events handled in one go; the rest wait for the next read, so that a flood cannot hold the
// event loop.
constexpr int kEventsPerDrain = 20000;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::vector<xcb_window_t> serverStackingOrder(
    const std::vector<xcb_window_t>& rootChildren, const std::vector<xcb_window_t>& clients,
    const std::unordered_map<xcb_window_t, xcb_window_t>& topLevelOf)
{
    std::unordered_map<xcb_window_t, std::size_t> height;   // 0 = bottom
    height.reserve(rootChildren.size());
    for (std::size_t i = 0; i < rootChildren.size(); ++i)
        height[rootChildren[i]] = i + 1;
    std::vector<std::pair<std::size_t, xcb_window_t>> keyed;
    keyed.reserve(clients.size());
    for (const xcb_window_t client : clients) {
        std::size_t h = 0;
        if (const auto top = topLevelOf.find(client); top != topLevelOf.end())
            if (const auto it = height.find(top->second); it != height.end())
                h = it->second;
        keyed.emplace_back(h, client);
    }
    std::ranges::stable_sort(keyed, [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<xcb_window_t> ordered;
    ordered.reserve(keyed.size());
    for (const auto& [h, client] : keyed)
        ordered.push_back(client);
    return ordered;
}

WindowLister::WindowLister(std::uint32_t ownPid)
    : ownPid_(ownPid != 0 ? ownPid : static_cast<std::uint32_t>(::getpid()))
{
}

WindowLister::~WindowLister() = default;

// ---- the connection ----------------------------------------------------------------------------

bool WindowLister::connect()
{
    if (link_ && !link_->broken())
        return true;
    notifier_.reset();
    link_.reset();
    needResync_ = true;
    const auto x = listingX11();
    if (!x)
        return false;
    const std::int64_t now = nowMs();
    if (lastAttempt_ != 0 && now - lastAttempt_ < kRetryMs)
        return false;
    lastAttempt_ = now;
    auto link = XLink::open(x->displayName);
    if (!link)
        return false;
    xcb_connection_t* const c = link->connection();
    xcb_prefetch_extension_data(c, &xcb_res_id);

    const Deadline deadline(kPatience);
    Batch batch(*link, deadline);
    const char* const names[] = {"_NET_WM_NAME",      "UTF8_STRING",
                                 "_NET_WM_PID",       "WM_STATE",
                                 "COMPOUND_TEXT",     "_NET_CLIENT_LIST",
                                 "_NET_CLIENT_LIST_STACKING", "_NET_SUPPORTING_WM_CHECK"};
    unsigned asked[std::size(names)];
    for (std::size_t i = 0; i < std::size(names); ++i)
        asked[i] = batch.ask(
            xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i])
                .sequence);
    xcb_flush(c);
    xcb_atom_t atoms[std::size(names)];
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const auto reply = batch.take<xcb_intern_atom_reply_t>(asked[i]);
        if (!reply || reply->atom == XCB_NONE)
            return false;
        atoms[i] = reply->atom;
    }
    atoms_ = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7]};

    // Whether the server can name each window's process (XRes 1.2), and whether the id it gives
    // for our own connection is ours: when not, its ids belong to another pid namespace.
    haveRes_ = false;
    foreignPids_ = false;
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(c, &xcb_res_id);
    if (res != nullptr && res->present) {
        const auto version = batch.take<xcb_res_query_version_reply_t>(
            batch.ask(xcb_res_query_version(c, 1, 2).sequence));
        haveRes_ = version && (version->server_major > 1 ||
                               (version->server_major == 1 && version->server_minor >= 2));
    }
    if (haveRes_) {
        const std::uint32_t self = xcb_get_setup(c)->resource_id_base;
        const xcb_res_client_id_spec_t ownId{self, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        const auto ids = batch.take<xcb_res_query_client_ids_reply_t>(
            batch.ask(xcb_res_query_client_ids(c, 1, &ownId).sequence));
        const std::uint32_t seen = localPidOf(ids.get(), self);
        foreignPids_ = seen != 0 && seen != ownPid_;
    }
    if (batch.failed())
        return false;

    host_ = hostName();
    display_ = x->display;
    link_ = std::move(link);
    lastSequence_ = 0;
    // Events are read as they come, so that the server never holds a backlog for us; a refresh
    // reads what is left.
    notifier_ = std::make_unique<QSocketNotifier>(link_->fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { pump(); });
    needResync_ = true;
    return true;
}

std::vector<WindowInfo> WindowLister::list()
{
    if (!connect()) {
        rows_.clear();
        return {};
    }
    pump();
    if (rowsChanged_ && !needResync_) {
        rebuild();
        rowsChanged_ = false;
    }
    return rows_;
}

void WindowLister::catchUp()
{
    if (!connect())
        return;
    const Deadline deadline(std::chrono::seconds(2));
    {
        Batch batch(*link_, deadline);
        const unsigned sync = batch.ask(xcb_get_input_focus(link_->connection()).sequence);
        xcb_flush(link_->connection());
        batch.take<xcb_get_input_focus_reply_t>(sync);
    }
    pump();
}

// Takes in what the events say, then asks about it, until nothing is left to ask or the time
// for this refresh is up.
void WindowLister::pump()
{
    if (!link_)
        return;
    const Deadline deadline(kPatience);
    startTimes_.clear();
    for (int round = 0; round < 4; ++round) {
        drainEvents();
        if (link_->broken()) {
            // The socket stays readable once closed; the next refresh reconnects if it can.
            notifier_->setEnabled(false);
            return;
        }
        if (needResync_) {
            resync(deadline);
            if (needResync_)
                return;
            continue;
        }
        if (!listsChanged_ && stale_.empty() && moved_.empty())
            return;
        if (listsChanged_)
            readLists(deadline);
        if (!needResync_)
            refetch(deadline);
    }
}

void WindowLister::drainEvents()
{
    xcb_connection_t* const c = link_->connection();
    for (int n = 0; n < kEventsPerDrain; ++n) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (event == nullptr)
            return;
        handle(event);
        std::free(event);
    }
}

void WindowLister::fill(WindowInfo& row, xcb_window_t id, const Client& client) const
{
    row.id = id;
    row.title = client.netTitle ? *client.netTitle : client.wmTitle;
    row.visible = client.visible;
    row.pid = client.pid;
    row.identity = client.identity;
    row.foreignPid = foreignPids_ && client.pid != 0;
}

void WindowLister::rebuild()
{
    std::unordered_map<xcb_window_t, xcb_window_t> frameOf;
    frameOf.reserve(clients_.size());
    for (const auto& [id, client] : clients_)
        frameOf.emplace(id, client.frame);
    rows_.clear();
    rows_.reserve(clients_.size());
    rowOf_.clear();
    for (const xcb_window_t id : serverStackingOrder(rootChildren_, order_, frameOf)) {
        const auto it = clients_.find(id);
        if (it == clients_.end())
            continue;
        rowOf_[id] = rows_.size();
        fill(rows_.emplace_back(), id, it->second);
    }
}

// A new title, state or owner changes one row and not the order: that row is rewritten where
// it stands, unless the rows are to be rebuilt anyway.
void WindowLister::refresh(xcb_window_t id, const Client& client)
{
    if (rowsChanged_)
        return;
    if (const auto it = rowOf_.find(id); it != rowOf_.end())
        fill(rows_[it->second], id, client);
    else
        rowsChanged_ = true;
}

}  // namespace platform::linux_impl
