#include "platform/linux/x11/windows.h"

#include <QSocketNotifier>

#include <unistd.h>
#include <xcb/res.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

#include "platform/linux/proc/names.h"
#include "platform/linux/proc/procfs.h"
#include "platform/linux/text/compoundtext.h"
#include "platform/linux/text/wmtext.h"

namespace platform::linux_impl {
namespace {

// Property lengths are in 32-bit units. A title needs kMaxTitleBytes of UTF-8 (a few bytes more
// so a character cut at the end can be dropped); WM_NAME may be COMPOUND_TEXT, whose escape
// sequences take room of their own, so more of it is fetched and cut after decoding.
constexpr std::uint32_t kNetNameLongs = (kMaxTitleBytes + 5) / 4;
constexpr std::uint32_t kWmNameLongs = 1024;
constexpr std::uint32_t kMachineLongs = 64;
constexpr std::uint32_t kListLongs = 1u << 16;
constexpr std::uint32_t kNormalState = 1, kIconicState = 3;

// How deep below the root a client may sit inside its window manager's frames.
constexpr int kMaxFrameDepth = 8;
// How long one refresh may wait for the server, and how often a refresh may try to reconnect.
constexpr auto kPatience = std::chrono::milliseconds(250);
constexpr std::int64_t kRetryMs = 2000;
// Events handled in one go; the rest wait for the next read, so that a flood cannot hold the
// event loop.
constexpr int kEventsPerDrain = 20000;

constexpr std::uint32_t kClientMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr std::uint32_t kRootMask =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

using PropertyReply = XReply<xcb_get_property_reply_t>;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string_view bytesOf(const xcb_get_property_reply_t* reply)
{
    if (reply == nullptr || reply->format != 8)
        return {};
    return {static_cast<const char*>(xcb_get_property_value(reply)),
            static_cast<std::size_t>(xcb_get_property_value_length(reply))};
}

std::optional<std::uint32_t> firstCardinal(const xcb_get_property_reply_t* reply, xcb_atom_t type)
{
    if (reply == nullptr || reply->type != type || reply->format != 32 ||
        xcb_get_property_value_length(reply) < 4)
        return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, xcb_get_property_value(reply), sizeof value);
    return value;
}

// A list of windows (format 32, type WINDOW), reversed: the lists run bottom (or oldest) first.
std::vector<xcb_window_t> windowsOf(const xcb_get_property_reply_t* reply)
{
    if (reply == nullptr || reply->type != XCB_ATOM_WINDOW || reply->format != 32)
        return {};
    const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    std::vector<xcb_window_t> ids(first, first + xcb_get_property_value_length(reply) / 4);
    std::ranges::reverse(ids);
    return ids;
}

std::vector<xcb_window_t> childrenOf(const xcb_query_tree_reply_t* tree)
{
    if (tree == nullptr)
        return {};
    const xcb_window_t* first = xcb_query_tree_children(tree);
    return {first, first + xcb_query_tree_children_length(tree)};
}

std::uint32_t localPidOf(const xcb_res_query_client_ids_reply_t* reply, std::uint32_t client)
{
    if (reply == nullptr)
        return 0;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        // Each value starts with what it answers: the client (as the base of its ids) and mask.
        if (it.data->spec.client == client &&
            (it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            return *xcb_res_client_id_value_value(it.data);
    }
    return 0;
}

// A sequence number from an event against one of ours, on the 32-bit circle.
bool before(std::uint32_t sequence, std::uint32_t reference)
{
    return static_cast<std::int32_t>(sequence - reference) < 0;
}

void move(std::vector<xcb_window_t>& order, std::size_t from, std::size_t to)
{
    const xcb_window_t w = order[from];
    order.erase(order.begin() + static_cast<std::ptrdiff_t>(from));
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(to), w);
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
    const auto x = qtX11();
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
        const xcb_res_client_id_spec_t spec{self, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        const auto ids = batch.take<xcb_res_query_client_ids_reply_t>(
            batch.ask(xcb_res_query_client_ids(c, 1, &spec).sequence));
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

// ---- what the events say -----------------------------------------------------------------------

void WindowLister::handle(const xcb_generic_event_t* event)
{
    const xcb_window_t root = link_->root();
    // Events come in the order the server made them; one out of order means some went missing
    // between (or were numbered wrongly), and the copy cannot say what they changed.
    if (before(event->full_sequence, lastSequence_))
        needResync_ = true;
    lastSequence_ = event->full_sequence;
    switch (event->response_type & 0x7F) {
    case 0: {
        // BadWindow about a window of the copy: it went away between the news and the question.
        // Any other error means the copy may have missed something.
        const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
        if (error->error_code != XCB_WINDOW) {
            needResync_ = true;
        } else if (clients_.contains(error->resource_id)) {
            forget(error->resource_id);
        } else if (watched_.contains(error->resource_id)) {
            needResync_ = true;
        }
        return;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (e->window == root) {
            if (e->atom == atoms_.supportingWmCheck)
                needResync_ = true;   // another window manager
            else if (e->atom == atoms_.clientList || e->atom == atoms_.clientListStacking)
                (mode_ == Mode::Lists ? listsChanged_ : needResync_) = true;
            return;
        }
        unsigned property = 0;
        if (e->atom == atoms_.netWmName)
            property = kNetName;
        else if (e->atom == XCB_ATOM_WM_NAME)
            property = kWmName;
        else if (e->atom == atoms_.wmState)
            property = kWmState;
        else if (e->atom == atoms_.netWmPid)
            property = kNetPid;
        else if (e->atom == XCB_ATOM_WM_CLIENT_MACHINE)
            property = kMachine;
        if (property == 0)
            return;
        if (clients_.contains(e->window))
            stale_[e->window] |= property;
        else if (mode_ == Mode::Bare && property == kWmState && watched_.contains(e->window))
            needResync_ = true;   // a window manager without lists took on a window
        return;
    }
    case XCB_CREATE_NOTIFY:
    case XCB_DESTROY_NOTIFY:
    case XCB_REPARENT_NOTIFY:
    case XCB_CONFIGURE_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY:
        rootStructure(event);
        return;
    default:
        return;
    }
}

// Structure events: the root's children in the server's order, clients that go or move into
// another frame, and (without a manager's lists) any change of which windows are clients.
void WindowLister::rootStructure(const xcb_generic_event_t* event)
{
    const xcb_window_t root = link_->root();
    const std::uint8_t type = event->response_type & 0x7F;
    // All these events start with the window they were reported on and the one they are about,
    // except CreateNotify, which names the parent first as well.
    xcb_window_t on = XCB_NONE, window = XCB_NONE;
    bool overrideRedirect = false;
    std::memcpy(&on, reinterpret_cast<const char*>(event) + 4, 4);
    std::memcpy(&window, reinterpret_cast<const char*>(event) + 8, 4);

    if (on != root) {
        if (on == window && clients_.contains(window)) {
            if (type == XCB_DESTROY_NOTIFY) {
                forget(window);
            } else if (type == XCB_REPARENT_NOTIFY) {
                moved_[window] = reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->parent;
            }
        } else if (on == checkWindow_ && type == XCB_DESTROY_NOTIFY) {
            needResync_ = true;   // the window manager has gone, leaving its lists behind
        }
        if (mode_ == Mode::Bare && watched_.contains(on) &&
            (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY || type == XCB_REPARENT_NOTIFY ||
             type == XCB_DESTROY_NOTIFY))
            needResync_ = true;   // something changed inside a frame
        return;
    }

    // Changes the tree read at the last resync already holds are not applied twice.
    if (before(event->full_sequence, treeSequence_))
        return;
    const auto at = [this](xcb_window_t w) {
        return static_cast<std::size_t>(std::ranges::find(rootChildren_, w) - rootChildren_.begin());
    };
    const std::size_t n = rootChildren_.size();
    bool membership = false;   // with no lists to go by: may change which windows are clients
    switch (type) {
    case XCB_CREATE_NOTIFY:
        if (at(window) != n) {
            needResync_ = true;   // a window we already had: an event was lost
            return;
        }
        rootChildren_.push_back(window);
        rowsChanged_ = true;
        return;
    case XCB_DESTROY_NOTIFY:
    case XCB_REPARENT_NOTIFY: {
        const bool arrives = type == XCB_REPARENT_NOTIFY &&
                             reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->parent == root;
        const std::size_t i = at(window);
        if ((i == n) != arrives) {
            needResync_ = true;
            return;
        }
        if (arrives)
            rootChildren_.push_back(window);
        else
            rootChildren_.erase(rootChildren_.begin() + static_cast<std::ptrdiff_t>(i));
        if (type == XCB_REPARENT_NOTIFY)
            overrideRedirect =
                reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->override_redirect;
        membership = !overrideRedirect;
        rowsChanged_ = true;
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const xcb_window_t sibling =
            reinterpret_cast<const xcb_configure_notify_event_t*>(event)->above_sibling;
        const std::size_t i = at(window);
        const std::size_t s = sibling == XCB_NONE ? n : at(sibling);
        if (i == n || (sibling != XCB_NONE && s == n)) {
            needResync_ = true;
            return;
        }
        // Where it belongs: right above its sibling, or at the bottom.
        const std::size_t want = sibling == XCB_NONE ? 0 : (s < i ? s + 1 : s);
        if (want != i) {
            move(rootChildren_, i, want);
            rowsChanged_ = true;
        }
        return;
    }
    case XCB_CIRCULATE_NOTIFY: {
        const std::size_t i = at(window);
        if (i == n) {
            needResync_ = true;
            return;
        }
        const bool top =
            reinterpret_cast<const xcb_circulate_notify_event_t*>(event)->place == XCB_PLACE_ON_TOP;
        move(rootChildren_, i, top ? n - 1 : 0);
        rowsChanged_ = true;
        return;
    }
    case XCB_MAP_NOTIFY:
        membership = !reinterpret_cast<const xcb_map_notify_event_t*>(event)->override_redirect;
        break;
    case XCB_UNMAP_NOTIFY:
        membership = clients_.contains(window) || watched_.contains(window);
        break;
    default:
        return;
    }
    if (mode_ == Mode::Bare && membership)
        needResync_ = true;
}

void WindowLister::forget(xcb_window_t window)
{
    clients_.erase(window);
    stale_.erase(window);
    moved_.erase(window);
    rowsChanged_ = true;
}

// ---- asking the server -------------------------------------------------------------------------

unsigned WindowLister::askProperty(Batch& batch, xcb_window_t w, unsigned property)
{
    xcb_connection_t* const c = link_->connection();
    switch (property) {
    case kNetName:
        return batch.ask(
            xcb_get_property(c, 0, w, atoms_.netWmName, atoms_.utf8String, 0, kNetNameLongs).sequence);
    case kWmName:
        return batch.ask(xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                          kWmNameLongs)
                             .sequence);
    case kWmState:
        return batch.ask(xcb_get_property(c, 0, w, atoms_.wmState, atoms_.wmState, 0, 2).sequence);
    case kNetPid:
        return batch.ask(
            xcb_get_property(c, 0, w, atoms_.netWmPid, XCB_ATOM_CARDINAL, 0, 1).sequence);
    default:
        return batch.ask(xcb_get_property(c, 0, w, XCB_ATOM_WM_CLIENT_MACHINE,
                                          XCB_GET_PROPERTY_TYPE_ANY, 0, kMachineLongs)
                             .sequence);
    }
}

void WindowLister::apply(Client& client, unsigned property, const xcb_get_property_reply_t* reply)
{
    switch (property) {
    case kNetName:
        if (reply != nullptr && reply->type == atoms_.utf8String && !bytesOf(reply).empty())
            client.netTitle = titleFromBytes(bytesOf(reply), TextEncoding::Utf8, reply->bytes_after > 0);
        else
            client.netTitle.reset();
        return;
    case kWmName: {
        client.wmTitle.clear();
        if (reply == nullptr || reply->type == XCB_NONE)
            return;
        const std::string_view bytes = bytesOf(reply);
        const bool partial = reply->bytes_after > 0;
        if (reply->type == atoms_.compoundText)
            client.wmTitle = compoundTextTitle(display_, atoms_.compoundText, bytes, partial);
        else
            client.wmTitle = titleFromBytes(
                bytes, reply->type == XCB_ATOM_STRING ? TextEncoding::Latin1 : TextEncoding::Utf8,
                partial);
        return;
    }
    case kWmState: {
        const auto state = firstCardinal(reply, atoms_.wmState);
        client.visible = state && (*state == kNormalState || *state == kIconicState);
        return;
    }
    case kNetPid:
        client.declaredPid = firstCardinal(reply, XCB_ATOM_CARDINAL).value_or(0);
        return;
    default: {
        const std::string_view machine = bytesOf(reply);
        client.remote = !machine.empty() && !sameMachine(machine, host_);
        return;
    }
    }
}

// The server knows which local process holds the window's connection; a client's own
// _NET_WM_PID may say anything, and a sandboxed one's is in a namespace of its own. So that is
// taken only when the server has no answer, and only when the window says it comes from this
// machine. A window from another machine has no process here: the process the server names
// merely carries its connection (ssh, a proxy), and ending it would end every window it
// carries. Such a row gets no identity, so it is never ended.
void WindowLister::settleOwner(Client& client)
{
    client.pid = client.serverPid;
    if (client.pid == 0 && !client.remote && client.declaredPid <= INT_MAX)
        client.pid = client.declaredPid;
    client.identity = 0;
    if (client.pid == 0 || client.remote)
        return;
    const auto [it, fresh] = startTimes_.try_emplace(client.pid, 0);
    if (fresh)
        it->second = readStartTime(client.pid);
    client.identity = it->second;
}

bool WindowLister::gone(const Batch& batch, int errorCode)
{
    (void)batch;
    return errorCode == XCB_WINDOW;
}

// Reads everything again: the window manager's word, the root's children, every client.
void WindowLister::resync(const Deadline& deadline)
{
    xcb_connection_t* const c = link_->connection();
    const xcb_window_t root = link_->root();
    needResync_ = false;
    listsChanged_ = false;
    stale_.clear();
    moved_.clear();
    clients_.clear();
    order_.clear();
    watched_.clear();
    checkWindow_ = XCB_NONE;
    rowsChanged_ = true;

    Batch batch(*link_, deadline);
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &kRootMask);
    const unsigned check = batch.ask(
        xcb_get_property(c, 0, root, atoms_.supportingWmCheck, XCB_ATOM_WINDOW, 0, 1).sequence);
    const unsigned stacking = batch.ask(
        xcb_get_property(c, 0, root, atoms_.clientListStacking, XCB_ATOM_WINDOW, 0, kListLongs).sequence);
    const unsigned plain = batch.ask(
        xcb_get_property(c, 0, root, atoms_.clientList, XCB_ATOM_WINDOW, 0, kListLongs).sequence);
    const unsigned tree = batch.ask(xcb_query_tree(c, root).sequence);
    xcb_flush(c);
    const auto checkReply = batch.take<xcb_get_property_reply_t>(check);
    std::vector<xcb_window_t> clients = windowsOf(batch.take<xcb_get_property_reply_t>(stacking).get());
    const auto plainReply = batch.take<xcb_get_property_reply_t>(plain);
    if (clients.empty())
        clients = windowsOf(plainReply.get());
    const auto treeReply = batch.take<xcb_query_tree_reply_t>(tree);
    if (batch.failed() || batch.unexpectedError() || !treeReply) {
        needResync_ = true;
        return;
    }
    rootChildren_ = childrenOf(treeReply.get());
    treeSequence_ = tree;

    // A window manager that has gone leaves its lists behind on the root, but its check window,
    // which names itself, goes with it; watched, it tells when the manager goes.
    if (const auto named = firstCardinal(checkReply.get(), XCB_ATOM_WINDOW)) {
        xcb_change_window_attributes(c, *named, XCB_CW_EVENT_MASK, &kClientMask);
        const auto self = batch.take<xcb_get_property_reply_t>(batch.ask(
            xcb_get_property(c, 0, *named, atoms_.supportingWmCheck, XCB_ATOM_WINDOW, 0, 1).sequence));
        if (batch.failed()) {
            needResync_ = true;
            return;
        }
        if (firstCardinal(self.get(), XCB_ATOM_WINDOW) == named)
            checkWindow_ = *named;
        else
            clients.clear();
    }
    if (!clients.empty()) {
        mode_ = Mode::Lists;
        order_ = clients;
        resolve(clients, true, kClientMask, deadline);
    } else {
        mode_ = Mode::Bare;
        scanBare(batch, deadline);
    }
}

// Without a manager's lists: ICCCM's way, the windows carrying WM_STATE, each the root's child
// itself or inside the frame that is; with none, the root's mapped children that are not
// override-redirect. Every window looked at is watched, so that any change among them is seen.
void WindowLister::scanBare(Batch& batch, const Deadline& deadline)
{
    xcb_connection_t* const c = link_->connection();
    constexpr std::uint32_t kWatchMask =
        XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    struct Candidate {
        xcb_window_t window;
        xcb_window_t frame;   // the root's child it is in
        std::size_t height;   // of that child, topmost = 0
    };
    std::vector<Candidate> level;
    for (std::size_t i = 0; i < rootChildren_.size(); ++i) {
        const xcb_window_t w = rootChildren_[rootChildren_.size() - 1 - i];
        level.push_back({w, w, i});
    }
    std::vector<unsigned> attributes;
    for (const Candidate& candidate : level)
        attributes.push_back(batch.ask(xcb_get_window_attributes(c, candidate.window).sequence));

    std::vector<std::pair<std::size_t, xcb_window_t>> found;
    std::unordered_map<xcb_window_t, xcb_window_t> frames;
    for (int depth = 0; depth < kMaxFrameDepth && !level.empty(); ++depth) {
        std::vector<std::pair<unsigned, unsigned>> asked;
        for (const Candidate& candidate : level) {
            xcb_change_window_attributes(c, candidate.window, XCB_CW_EVENT_MASK, &kWatchMask);
            watched_.insert(candidate.window);
            asked.emplace_back(
                batch.ask(xcb_get_property(c, 0, candidate.window, atoms_.wmState, atoms_.wmState, 0, 0)
                              .sequence),
                batch.ask(xcb_query_tree(c, candidate.window).sequence));
        }
        xcb_flush(c);
        std::vector<Candidate> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const auto state = batch.take<xcb_get_property_reply_t>(asked[i].first);
            const auto tree = batch.take<xcb_query_tree_reply_t>(asked[i].second);
            if (state && state->type == atoms_.wmState) {
                found.emplace_back(level[i].height, level[i].window);
                frames[level[i].window] = level[i].frame;
            } else {
                const auto children = childrenOf(tree.get());
                for (auto child = children.rbegin(); child != children.rend(); ++child)
                    next.push_back({*child, level[i].frame, level[i].height});
            }
        }
        level = std::move(next);
    }

    std::vector<xcb_window_t> clients;
    bool managed = !found.empty();
    if (managed) {
        std::ranges::stable_sort(found, {}, &std::pair<std::size_t, xcb_window_t>::first);
        for (const auto& [height, window] : found)
            clients.push_back(window);
    } else {
        for (std::size_t i = 0; i < attributes.size(); ++i) {
            const xcb_window_t w = rootChildren_[rootChildren_.size() - 1 - i];
            const auto a = batch.take<xcb_get_window_attributes_reply_t>(attributes[i]);
            if (a && !a->override_redirect && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                clients.push_back(w);
                frames[w] = w;
            }
        }
    }
    if (batch.failed() || batch.unexpectedError()) {
        needResync_ = true;
        return;
    }
    order_ = clients;
    resolve(clients, managed, 0, deadline, &frames);
}

// Everything about windows new to the copy, in one batch: their properties, their frames, and
// the processes behind them in one XRes question for all.
void WindowLister::resolve(const std::vector<xcb_window_t>& ids, bool managed,
                           std::uint32_t eventMask, const Deadline& deadline,
                           const std::unordered_map<xcb_window_t, xcb_window_t>* frames)
{
    if (ids.empty())
        return;
    xcb_connection_t* const c = link_->connection();
    const xcb_window_t root = link_->root();
    const unsigned properties =
        kNetName | kWmName | kNetPid | kMachine | (managed ? unsigned(kWmState) : 0u);
    struct Ask {
        xcb_window_t id;
        unsigned sequences[5];
        unsigned tree;
    };
    Batch batch(*link_, deadline);
    std::vector<Ask> asks;
    asks.reserve(ids.size());
    const std::uint32_t clientBits = ~xcb_get_setup(c)->resource_id_mask;
    std::vector<xcb_res_client_id_spec_t> owners;
    std::unordered_set<std::uint32_t> ownersAsked;
    for (const xcb_window_t id : ids) {
        // Watched before it is read: a change after the read then comes as an event.
        if (eventMask != 0)
            xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &eventMask);
        Ask ask{id, {}, 0};
        for (unsigned bit = 0; bit < 5; ++bit)
            if ((properties & (1u << bit)) != 0)
                ask.sequences[bit] = askProperty(batch, id, 1u << bit);
        if (frames == nullptr)
            ask.tree = batch.ask(xcb_query_tree(c, id).sequence);
        asks.push_back(ask);
        if (ownersAsked.insert(id & clientBits).second)
            owners.push_back({id & clientBits, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID});
    }
    unsigned ownersSequence = 0;
    if (haveRes_)
        ownersSequence = batch.ask(xcb_res_query_client_ids(c, static_cast<std::uint32_t>(owners.size()),
                                                            owners.data())
                                       .sequence);
    xcb_flush(c);

    std::unordered_set<xcb_window_t> tops(rootChildren_.begin(), rootChildren_.end());
    std::unordered_map<xcb_window_t, xcb_window_t> climbFrom;
    std::vector<xcb_window_t> added;
    for (const Ask& ask : asks) {
        Client client;
        client.managed = managed;
        client.visible = !managed;   // unmanaged ones are listed only while mapped
        bool vanished = false;
        for (unsigned bit = 0; bit < 5; ++bit) {
            if ((properties & (1u << bit)) == 0)
                continue;
            int error = 0;
            const auto reply = batch.take<xcb_get_property_reply_t>(ask.sequences[bit], &error);
            vanished = vanished || gone(batch, error);
            apply(client, 1u << bit, reply.get());
        }
        xcb_window_t parent = XCB_NONE;
        if (frames == nullptr) {
            int error = 0;
            const auto tree = batch.take<xcb_query_tree_reply_t>(ask.tree, &error);
            vanished = vanished || gone(batch, error);
            if (tree)
                parent = tree->parent;
        }
        if (vanished || batch.failed())
            continue;
        if (frames != nullptr) {
            const auto it = frames->find(ask.id);
            client.frame = it != frames->end() ? it->second : XCB_NONE;
        } else if (parent == root) {
            client.frame = ask.id;
        } else if (tops.contains(parent)) {
            client.frame = parent;
        } else if (parent != XCB_NONE) {
            climbFrom.emplace(ask.id, parent);
        }
        clients_[ask.id] = std::move(client);
        added.push_back(ask.id);
    }
    XReply<xcb_res_query_client_ids_reply_t> ownerIds;
    if (haveRes_)
        ownerIds = batch.take<xcb_res_query_client_ids_reply_t>(ownersSequence);
    for (const xcb_window_t id : added) {
        Client& client = clients_[id];
        client.serverPid = localPidOf(ownerIds.get(), id & clientBits);
        settleOwner(client);
    }
    if (batch.failed() || batch.unexpectedError()) {
        needResync_ = true;
        return;
    }
    rowsChanged_ = true;
    climb(std::move(climbFrom), deadline);
}

// Follows each window's parent up to the root's child that holds it, one level per round trip
// for all windows at once. `from`: each client and the window to start at (its parent).
void WindowLister::climb(std::unordered_map<xcb_window_t, xcb_window_t> from,
                         const Deadline& deadline)
{
    xcb_connection_t* const c = link_->connection();
    const xcb_window_t root = link_->root();
    const std::unordered_set<xcb_window_t> tops(rootChildren_.begin(), rootChildren_.end());
    for (auto it = from.begin(); it != from.end();) {
        const auto client = clients_.find(it->first);
        if (client != clients_.end() && (it->second == root || tops.contains(it->second))) {
            client->second.frame = it->second == root ? it->first : it->second;
            rowsChanged_ = true;
        }
        if (client == clients_.end() || it->second == root || tops.contains(it->second))
            it = from.erase(it);
        else
            ++it;
    }
    for (int depth = 0; depth < kMaxFrameDepth && !from.empty(); ++depth) {
        Batch batch(*link_, deadline);
        std::unordered_map<xcb_window_t, unsigned> asked;
        for (const auto& [client, window] : from)
            if (!asked.contains(window))
                asked.emplace(window, batch.ask(xcb_query_tree(c, window).sequence));
        xcb_flush(c);
        std::unordered_map<xcb_window_t, xcb_window_t> parentOf;
        for (const auto& [window, sequence] : asked) {
            const auto tree = batch.take<xcb_query_tree_reply_t>(sequence);
            parentOf[window] = tree ? tree->parent : XCB_NONE;
        }
        if (batch.failed() || batch.unexpectedError()) {
            needResync_ = true;
            return;
        }
        std::unordered_map<xcb_window_t, xcb_window_t> next;
        for (const auto& [id, window] : from) {
            const auto client = clients_.find(id);
            if (client == clients_.end())
                continue;
            const xcb_window_t parent = parentOf[window];
            rowsChanged_ = true;
            if (parent == root) {
                client->second.frame = window;   // a frame made after the tree was read
            } else if (tops.contains(parent)) {
                client->second.frame = parent;
            } else if (parent == XCB_NONE) {
                client->second.frame = XCB_NONE;   // the frame went away meanwhile
            } else {
                next.emplace(id, parent);
            }
        }
        from = std::move(next);
    }
}

// The manager's lists changed: clients that left go, new ones are read in one batch.
void WindowLister::readLists(const Deadline& deadline)
{
    xcb_connection_t* const c = link_->connection();
    const xcb_window_t root = link_->root();
    listsChanged_ = false;
    std::vector<xcb_window_t> clients;
    {
        Batch batch(*link_, deadline);
        const unsigned stacking = batch.ask(
            xcb_get_property(c, 0, root, atoms_.clientListStacking, XCB_ATOM_WINDOW, 0, kListLongs).sequence);
        const unsigned plain = batch.ask(
            xcb_get_property(c, 0, root, atoms_.clientList, XCB_ATOM_WINDOW, 0, kListLongs).sequence);
        xcb_flush(c);
        clients = windowsOf(batch.take<xcb_get_property_reply_t>(stacking).get());
        const auto plainReply = batch.take<xcb_get_property_reply_t>(plain);
        if (clients.empty())
            clients = windowsOf(plainReply.get());
        if (batch.failed() || batch.unexpectedError() || clients.empty()) {
            needResync_ = true;   // no lists any more: read again the way that suits
            return;
        }
    }
    const std::unordered_set<xcb_window_t> listed(clients.begin(), clients.end());
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (listed.contains(it->first)) {
            ++it;
        } else {
            stale_.erase(it->first);
            moved_.erase(it->first);
            it = clients_.erase(it);
        }
    }
    std::vector<xcb_window_t> added;
    for (const xcb_window_t id : clients)
        if (!clients_.contains(id))
            added.push_back(id);
    order_ = std::move(clients);
    rowsChanged_ = true;
    resolve(added, true, kClientMask, deadline);
}

// Properties the events said changed, and frames of clients that moved.
void WindowLister::refetch(const Deadline& deadline)
{
    const xcb_window_t root = link_->root();
    std::unordered_map<xcb_window_t, xcb_window_t> climbFrom;
    for (const auto& [id, parent] : moved_)
        climbFrom.emplace(id, parent == root ? root : parent);
    moved_.clear();
    if (!stale_.empty()) {
        struct Ask {
            xcb_window_t id;
            unsigned property;
            unsigned sequence;
        };
        Batch batch(*link_, deadline);
        std::vector<Ask> asks;
        for (const auto& [id, properties] : stale_)
            for (unsigned bit = 0; bit < 5; ++bit)
                if ((properties & (1u << bit)) != 0)
                    asks.push_back({id, 1u << bit, askProperty(batch, id, 1u << bit)});
        stale_.clear();
        xcb_flush(link_->connection());
        for (const Ask& ask : asks) {
            int error = 0;
            const auto reply = batch.take<xcb_get_property_reply_t>(ask.sequence, &error);
            const auto client = clients_.find(ask.id);
            if (client == clients_.end() || batch.failed())
                continue;
            if (gone(batch, error)) {
                forget(ask.id);
                continue;
            }
            apply(client->second, ask.property, reply.get());
            if (ask.property == kNetPid || ask.property == kMachine)
                settleOwner(client->second);
            rowsChanged_ = true;
        }
        if (batch.failed() || batch.unexpectedError()) {
            needResync_ = true;
            return;
        }
    }
    climb(std::move(climbFrom), deadline);
}

void WindowLister::rebuild()
{
    std::unordered_map<xcb_window_t, xcb_window_t> frameOf;
    frameOf.reserve(clients_.size());
    for (const auto& [id, client] : clients_)
        frameOf.emplace(id, client.frame);
    rows_.clear();
    rows_.reserve(clients_.size());
    for (const xcb_window_t id : serverStackingOrder(rootChildren_, order_, frameOf)) {
        const auto it = clients_.find(id);
        if (it == clients_.end())
            continue;
        const Client& client = it->second;
        WindowInfo info;
        info.id = id;
        info.title = client.netTitle ? *client.netTitle : client.wmTitle;
        info.visible = client.visible;
        info.pid = client.pid;
        info.identity = client.identity;
        info.foreignPid = foreignPids_ && client.pid != 0;
        rows_.push_back(std::move(info));
    }
}

}  // namespace platform::linux_impl
