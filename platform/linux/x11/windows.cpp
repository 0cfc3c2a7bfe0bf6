#include "platform/linux/x11/windows.h"

#include <xcb/res.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/text/compoundtext.h"
#include "platform/linux/proc/names.h"
#include "platform/linux/proc/procfs.h"
#include "platform/linux/text/utf8.h"
#include "platform/linux/text/wmtext.h"

namespace platform::linux_impl {
namespace {

// Property lengths are in 32-bit units. A title needs kMaxTitleBytes of UTF-8 (a few bytes more
// so a character cut at the end can be dropped); WM_NAME may be COMPOUND_TEXT, whose escape
// sequences take room of their own, so more of it is fetched and cut after decoding.
constexpr std::uint32_t kNetNameLongs = (kMaxTitleBytes + 5) / 4;
constexpr std::uint32_t kWmNameLongs = 1024;
constexpr std::uint32_t kMachineLongs = 64;
constexpr std::uint32_t kNormalState = 1, kIconicState = 3;

using PropertyReply = XReply<xcb_get_property_reply_t>;

// Collects a reply; an error (typically BadWindow: the window went away meanwhile) just means
// no reply, and marks the window as gone.
template <class Reply, class Cookie, class Fetch>
XReply<Reply> collect(xcb_connection_t* c, Cookie cookie, Fetch fetch, bool& gone)
{
    xcb_generic_error_t* error = nullptr;
    XReply<Reply> reply(fetch(c, cookie, &error));
    if (error != nullptr) {
        gone = gone || error->error_code == XCB_WINDOW;
        std::free(error);
    }
    return reply;
}

PropertyReply collectProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie, bool& gone)
{
    return collect<xcb_get_property_reply_t>(c, cookie, xcb_get_property_reply, gone);
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

std::optional<xcb_window_t> windowOf(xcb_get_property_reply_t* reply)
{
    xcb_window_t window = XCB_NONE;
    if (reply == nullptr || xcb_ewmh_get_window_from_reply(&window, reply) == 0)
        return std::nullopt;
    return window;
}

std::uint32_t localPidOf(const xcb_res_query_client_ids_reply_t* reply)
{
    if (reply == nullptr)
        return 0;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        // The value starts with the request it answers (client and mask).
        const auto* asked = reinterpret_cast<const xcb_res_client_id_spec_t*>(it.data);
        if ((asked->mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            return *xcb_res_client_id_value_value(it.data);
    }
    return 0;
}

// Answers to xcb_query_tree, asked for several windows at once.
struct TreeAnswer {
    xcb_window_t parent = XCB_NONE;
    std::vector<xcb_window_t> children;   // bottom first
};

std::optional<TreeAnswer> collectTree(xcb_connection_t* c, xcb_query_tree_cookie_t cookie)
{
    XReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, cookie, nullptr));
    if (!tree)
        return std::nullopt;
    const xcb_window_t* first = xcb_query_tree_children(tree.get());
    return TreeAnswer{tree->parent,
                      {first, first + xcb_query_tree_children_length(tree.get())}};
}

// How deep below the root a client may sit inside its window manager's frames.
constexpr int kMaxFrameDepth = 8;

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

bool WindowLister::prepare(const X11& x)
{
    if (preparedFor_ == x.connection)
        return true;
    const auto atoms = internAtoms(x.connection, {"COMPOUND_TEXT", "WM_STATE"});
    if (std::ranges::find(atoms, XCB_NONE) != atoms.end())
        return false;
    atoms_ = {atoms[0], atoms[1]};
    ewmh_ = x.ewmh;

    haveRes_ = false;
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(x.connection, &xcb_res_id);
    if (res != nullptr && res->present) {
        XReply<xcb_res_query_version_reply_t> version(xcb_res_query_version_reply(
            x.connection, xcb_res_query_version(x.connection, 1, 2), nullptr));
        haveRes_ = version && (version->server_major > 1 ||
                               (version->server_major == 1 && version->server_minor >= 2));
    }
    host_ = hostName();
    preparedFor_ = x.connection;
    return true;
}

std::vector<xcb_window_t> WindowLister::windowList(const X11& x,
                                                   xcb_get_property_cookie_t cookie) const
{
    bool ignored = false;
    PropertyReply reply = collectProperty(x.connection, cookie, ignored);
    xcb_ewmh_get_windows_reply_t list{};
    if (!reply || xcb_ewmh_get_windows_from_reply(&list, reply.get()) == 0)
        return {};
    // The list points into the reply, which stays ours to free.
    std::vector<xcb_window_t> ids(list.windows, list.windows + list.windows_len);
    std::ranges::reverse(ids);   // the lists run bottom (or oldest) first
    return ids;
}

WindowLister::Pending WindowLister::ask(xcb_connection_t* c, xcb_window_t w, bool managed,
                                        bool wantParent) const
{
    Pending p;
    p.id = w;
    p.managed = managed;
    if (!managed)
        p.attributes = xcb_get_window_attributes(c, w);
    p.netName =
        xcb_get_property(c, 0, w, ewmh_->_NET_WM_NAME, ewmh_->UTF8_STRING, 0, kNetNameLongs);
    p.wmName = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                kWmNameLongs);
    if (managed)
        p.wmState = xcb_get_property(c, 0, w, atoms_.wmState, atoms_.wmState, 0, 2);
    p.netPid = xcb_ewmh_get_wm_pid(ewmh_, w);
    p.machine = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY,
                                 0, kMachineLongs);
    if (haveRes_) {
        const xcb_res_client_id_spec_t asked{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        p.owner = xcb_res_query_client_ids(c, 1, &asked);
    }
    if (wantParent)
        p.tree = xcb_query_tree(c, w);
    return p;
}

WindowLister::Answer WindowLister::answer(const X11& x, const Pending& p)
{
    xcb_connection_t* const c = x.connection;
    bool gone = false;
    XReply<xcb_get_window_attributes_reply_t> attributes;
    if (!p.managed)
        attributes = collect<xcb_get_window_attributes_reply_t>(
            c, p.attributes, xcb_get_window_attributes_reply, gone);
    const PropertyReply netName = collectProperty(c, p.netName, gone);
    const PropertyReply wmName = collectProperty(c, p.wmName, gone);
    const PropertyReply wmState = p.managed ? collectProperty(c, p.wmState, gone) : nullptr;
    const PropertyReply netPid = collectProperty(c, p.netPid, gone);
    const PropertyReply machine = collectProperty(c, p.machine, gone);
    XReply<xcb_res_query_client_ids_reply_t> owner;
    if (haveRes_)
        owner = collect<xcb_res_query_client_ids_reply_t>(c, p.owner,
                                                           xcb_res_query_client_ids_reply, gone);
    Answer result;
    if (p.tree) {
        if (const auto tree = collectTree(c, *p.tree))
            result.parent = tree->parent;
    }
    if (gone)
        return result;
    if (!p.managed && (!attributes || attributes->override_redirect ||
                       attributes->map_state != XCB_MAP_STATE_VIEWABLE))
        return result;

    WindowInfo info;
    info.id = p.id;
    info.title = titleOf(x, netName.get(), wmName.get());
    if (p.managed) {
        const auto state = firstCardinal(wmState.get(), atoms_.wmState);
        info.visible = state && (*state == kNormalState || *state == kIconicState);
    } else {
        info.visible = true;   // only viewable windows get this far
    }

    // The server knows which local process holds the window's connection (for a remote client,
    // the local end that carries it); a client's own _NET_WM_PID may say anything, and a
    // sandboxed one's is in a namespace of its own. So that is asked only when the server has
    // no answer, and counts only when the window says it comes from this machine.
    info.pid = localPidOf(owner.get());
    if (info.pid == 0) {
        const std::string_view clientMachine = bytesOf(machine.get());
        const bool local = clientMachine.empty() || sameMachine(clientMachine, host_);
        std::uint32_t declared = 0;
        if (local && netPid && xcb_ewmh_get_wm_pid_from_reply(&declared, netPid.get()) != 0 &&
            declared != 0 && declared <= INT_MAX)
            info.pid = declared;
    }
    result.info = std::move(info);
    return result;
}

std::string WindowLister::titleOf(const X11& x, const xcb_get_property_reply_t* netName,
                                  const xcb_get_property_reply_t* wmName) const
{
    if (netName != nullptr && netName->type == ewmh_->UTF8_STRING && !bytesOf(netName).empty())
        return titleFromBytes(bytesOf(netName), TextEncoding::Utf8, netName->bytes_after > 0);
    if (wmName == nullptr || wmName->type == XCB_NONE)
        return {};
    const std::string_view bytes = bytesOf(wmName);
    const bool partial = wmName->bytes_after > 0;
    if (wmName->type == atoms_.compoundText)
        return compoundTextTitle(x.display, atoms_.compoundText, bytes, partial);
    if (wmName->type == XCB_ATOM_STRING)
        return titleFromBytes(bytes, TextEncoding::Latin1, partial);
    return titleFromBytes(bytes, TextEncoding::Utf8, partial);
}

void WindowLister::discard(xcb_connection_t* c, const Pending& p) const
{
    if (!p.managed)
        xcb_discard_reply(c, p.attributes.sequence);
    for (const auto& cookie : {p.netName, p.wmName, p.netPid, p.machine})
        xcb_discard_reply(c, cookie.sequence);
    if (p.managed)
        xcb_discard_reply(c, p.wmState.sequence);
    if (haveRes_)
        xcb_discard_reply(c, p.owner.sequence);
    if (p.tree)
        xcb_discard_reply(c, p.tree->sequence);
}

// Follows each window's parent up to the root's child that holds it, one level per round trip
// for all windows at once. On entry parentOf holds each client's parent; on return, the frame.
void WindowLister::climbToTopLevels(const X11& x,
                                    std::unordered_map<xcb_window_t, xcb_window_t>& parentOf,
                                    const std::vector<xcb_window_t>& rootChildren) const
{
    std::unordered_set<xcb_window_t> tops(rootChildren.begin(), rootChildren.end());
    for (int depth = 0; depth < kMaxFrameDepth; ++depth) {
        std::unordered_map<xcb_window_t, xcb_query_tree_cookie_t> asked;
        for (const auto& [client, above] : parentOf)
            if (above != XCB_NONE && !tops.contains(above) && !asked.contains(above))
                asked.emplace(above, xcb_query_tree(x.connection, above));
        if (asked.empty())
            return;
        std::unordered_map<xcb_window_t, xcb_window_t> next;
        for (const auto& [window, cookie] : asked) {
            const auto tree = collectTree(x.connection, cookie);
            if (tree && tree->parent == x.root)
                tops.insert(window);   // a frame made after the root's children were read
            else
                next.emplace(window, tree ? tree->parent : XCB_NONE);
        }
        for (auto& [client, above] : parentOf)
            if (const auto it = next.find(above); it != next.end())
                above = it->second;
    }
}

std::vector<WindowInfo> WindowLister::managedClients(const X11& x,
                                                     const std::vector<xcb_window_t>& clients,
                                                     const std::vector<xcb_window_t>& rootChildren,
                                                     std::optional<xcb_window_t> checkWindow)
{
    xcb_connection_t* const c = x.connection;
    // A window manager that has gone leaves its lists behind on the root, but its check window,
    // which names itself, goes with it. Asked first, so it is answered first.
    std::optional<xcb_get_property_cookie_t> check;
    if (checkWindow)
        check = xcb_ewmh_get_supporting_wm_check(ewmh_, *checkWindow);
    std::vector<Pending> pending;
    pending.reserve(clients.size());
    for (const xcb_window_t id : clients)
        pending.push_back(ask(c, id, true, true));
    if (check) {
        bool ignored = false;
        const PropertyReply self = collectProperty(c, *check, ignored);
        if (windowOf(self.get()) != checkWindow) {
            for (const Pending& p : pending)
                discard(c, p);
            return answerAll(x, rootChildren, false);
        }
    }

    std::unordered_map<xcb_window_t, WindowInfo> infos;
    std::unordered_map<xcb_window_t, xcb_window_t> frameOf;
    for (const Pending& p : pending) {
        Answer a = answer(x, p);
        if (!a.info)
            continue;
        frameOf.emplace(p.id, a.parent == x.root ? p.id : a.parent);
        infos.emplace(p.id, std::move(*a.info));
    }
    climbToTopLevels(x, frameOf, rootChildren);

    std::vector<WindowInfo> result;
    result.reserve(infos.size());
    for (const xcb_window_t id : serverStackingOrder(rootChildren, clients, frameOf))
        if (auto it = infos.find(id); it != infos.end())
            result.push_back(std::move(it->second));
    return result;
}

// ICCCM's way to find a manager's clients when it publishes no list: the windows carrying
// WM_STATE, each the root's child itself or inside the frame that is. Topmost first.
std::vector<xcb_window_t> WindowLister::wmStateClients(
    const X11& x, const std::vector<xcb_window_t>& rootChildren) const
{
    xcb_connection_t* const c = x.connection;
    struct Candidate {
        xcb_window_t window;
        std::size_t frame;   // index of its root child, topmost = 0
    };
    std::vector<Candidate> level;
    for (std::size_t i = 0; i < rootChildren.size(); ++i)
        level.push_back({rootChildren[rootChildren.size() - 1 - i], i});

    std::vector<std::pair<std::size_t, xcb_window_t>> found;
    for (int depth = 0; depth < kMaxFrameDepth && !level.empty(); ++depth) {
        std::vector<std::pair<xcb_get_property_cookie_t, xcb_query_tree_cookie_t>> cookies;
        cookies.reserve(level.size());
        for (const Candidate& candidate : level)
            cookies.emplace_back(
                xcb_get_property(c, 0, candidate.window, atoms_.wmState, atoms_.wmState, 0, 0),
                xcb_query_tree(c, candidate.window));
        std::vector<Candidate> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            bool ignored = false;
            const PropertyReply state = collectProperty(c, cookies[i].first, ignored);
            const auto tree = collectTree(c, cookies[i].second);
            if (state && state->type == atoms_.wmState) {
                found.emplace_back(level[i].frame, level[i].window);
            } else if (tree) {
                for (auto child = tree->children.rbegin(); child != tree->children.rend(); ++child)
                    next.push_back({*child, level[i].frame});
            }
        }
        level = std::move(next);
    }
    std::ranges::stable_sort(found, {}, &std::pair<std::size_t, xcb_window_t>::first);
    std::vector<xcb_window_t> ids;
    ids.reserve(found.size());
    for (const auto& [frame, window] : found)
        ids.push_back(window);
    return ids;
}

std::vector<WindowInfo> WindowLister::answerAll(const X11& x, const std::vector<xcb_window_t>& ids,
                                                bool managed)
{
    std::vector<Pending> pending;
    pending.reserve(ids.size());
    // Unmanaged windows are the root's children, which run bottom first.
    if (managed) {
        for (const xcb_window_t id : ids)
            pending.push_back(ask(x.connection, id, true, false));
    } else {
        for (auto it = ids.rbegin(); it != ids.rend(); ++it)
            pending.push_back(ask(x.connection, *it, false, false));
    }
    std::vector<WindowInfo> result;
    result.reserve(pending.size());
    for (const Pending& p : pending)
        if (Answer a = answer(x, p); a.info)
            result.push_back(std::move(*a.info));
    return result;
}

void WindowLister::stamp(std::vector<WindowInfo>& windows) const
{
    std::unordered_map<std::uint32_t, std::uint64_t> startTimes;
    for (WindowInfo& info : windows) {
        if (info.pid == 0)
            continue;
        const auto [it, fresh] = startTimes.try_emplace(info.pid, 0);
        if (fresh)
            it->second = readStartTime(info.pid);
        info.identity = it->second;
    }
}

std::vector<WindowInfo> WindowLister::list()
{
    const auto x = listingX11();
    if (!x || !prepare(*x))
        return {};
    xcb_connection_t* const c = x->connection;

    // What the window manager says and what the server stacks, in one round trip.
    const auto checkCookie = xcb_ewmh_get_supporting_wm_check(ewmh_, x->root);
    const auto stackingCookie = xcb_ewmh_get_client_list_stacking(ewmh_, x->screen);
    const auto clientsCookie = xcb_ewmh_get_client_list(ewmh_, x->screen);
    const auto treeCookie = xcb_query_tree(c, x->root);
    bool ignored = false;
    const PropertyReply check = collectProperty(c, checkCookie, ignored);
    std::vector<xcb_window_t> clients = windowList(*x, stackingCookie);
    if (clients.empty()) {
        clients = windowList(*x, clientsCookie);
    } else {
        xcb_discard_reply(c, clientsCookie.sequence);
    }
    const auto tree = collectTree(c, treeCookie);
    const std::vector<xcb_window_t> rootChildren = tree ? tree->children : std::vector<xcb_window_t>{};

    std::vector<WindowInfo> result;
    if (!clients.empty()) {
        result = managedClients(*x, clients, rootChildren, windowOf(check.get()));
    } else if (const auto managed = wmStateClients(*x, rootChildren); !managed.empty()) {
        result = answerAll(*x, managed, true);
    } else {
        result = answerAll(*x, rootChildren, false);
    }
    stamp(result);
    return result;
}

}  // namespace platform::linux_impl
