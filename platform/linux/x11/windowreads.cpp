// The window list's copy, as the server's answers fill it (see windows.h): everything at a
// resync, new clients in batches, changed properties one request each.

#include "platform/linux/x11/windows.h"

#include <xcb/res.h>

#include <algorithm>
#include <climits>

#include "platform/linux/proc/procfs.h"
#include "platform/linux/text/compoundtext.h"
#include "platform/linux/text/wmtext.h"
#include "platform/linux/x11/xreplies.h"

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

constexpr std::uint32_t kClientMask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
constexpr std::uint32_t kRootMask =
    XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

}  // namespace

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

// Which windows are clients: _NET_CLIENT_LIST, which changes only when windows come and go
// (the stacking list changes at every raise, and the order is taken from the server anyway);
// the stacking list where a manager publishes only that. Topmost (or newest) first.
std::vector<xcb_window_t> WindowLister::pickList(Batch& batch, unsigned plain, unsigned stacking)
{
    std::vector<xcb_window_t> clients = windowsOf(batch.take<xcb_get_property_reply_t>(plain).get());
    const auto stackingReply = batch.take<xcb_get_property_reply_t>(stacking);
    listAtom_ = atoms_.clientList;
    if (clients.empty()) {
        clients = windowsOf(stackingReply.get());
        listAtom_ = atoms_.clientListStacking;
    }
    return clients;
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
    std::vector<xcb_window_t> clients = pickList(batch, plain, stacking);
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
        client.visible = !managed;   // unmanaged ones are listed only while mapped
        bool vanished = false;
        for (unsigned bit = 0; bit < 5; ++bit) {
            if ((properties & (1u << bit)) == 0)
                continue;
            int error = 0;
            const auto reply = batch.take<xcb_get_property_reply_t>(ask.sequences[bit], &error);
            vanished = vanished || error == XCB_WINDOW;
            apply(client, 1u << bit, reply.get());
        }
        xcb_window_t parent = XCB_NONE;
        if (frames == nullptr) {
            int error = 0;
            const auto tree = batch.take<xcb_query_tree_reply_t>(ask.tree, &error);
            vanished = vanished || error == XCB_WINDOW;
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
        clients = pickList(batch, plain, stacking);
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
            if (error == XCB_WINDOW) {
                forget(ask.id);
                continue;
            }
            apply(client->second, ask.property, reply.get());
            if (ask.property == kNetPid || ask.property == kMachine)
                settleOwner(client->second);
            refresh(ask.id, client->second);
        }
        if (batch.failed() || batch.unexpectedError()) {
            needResync_ = true;
            return;
        }
    }
    climb(std::move(climbFrom), deadline);
}

}  // namespace platform::linux_impl
