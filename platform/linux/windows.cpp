#include "platform/linux/windows.h"

#include <unistd.h>
#include <xcb/res.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/linux/compoundtext.h"
#include "platform/linux/procfs.h"
#include "platform/linux/utf8.h"
#include "platform/linux/wmtext.h"

namespace platform::linux_impl {
namespace {

// Property lengths are in 32-bit units. A title needs kMaxTitleBytes of UTF-8 (a few bytes more
// so a character cut at the end can be dropped); WM_NAME may be COMPOUND_TEXT, whose escape
// sequences take room of their own, so more of it is fetched and cut after decoding.
constexpr std::uint32_t kNetNameLongs = (kMaxTitleBytes + 5) / 4;
constexpr std::uint32_t kWmNameLongs = 1024;
constexpr std::uint32_t kMachineLongs = 64;
constexpr std::uint32_t kMaxClients = 1u << 16;
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

std::string thisHost()
{
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    return host;
}

}  // namespace

bool WindowLister::prepare(const X11& x)
{
    if (preparedFor_ == x.connection)
        return true;
    const auto atoms = internAtoms(
        x.connection, {"_NET_CLIENT_LIST_STACKING", "_NET_SUPPORTING_WM_CHECK", "_NET_WM_NAME",
                       "UTF8_STRING", "COMPOUND_TEXT", "WM_STATE", "_NET_WM_PID"});
    if (std::ranges::find(atoms, XCB_NONE) != atoms.end())
        return false;
    atoms_ = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6]};

    haveRes_ = false;
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(x.connection, &xcb_res_id);
    if (res != nullptr && res->present) {
        XReply<xcb_res_query_version_reply_t> version(xcb_res_query_version_reply(
            x.connection, xcb_res_query_version(x.connection, 1, 2), nullptr));
        haveRes_ = version && (version->server_major > 1 ||
                               (version->server_major == 1 && version->server_minor >= 2));
    }
    preparedFor_ = x.connection;
    return true;
}

std::optional<WindowLister::ClientList> WindowLister::clientList(const X11& x) const
{
    xcb_connection_t* const c = x.connection;
    const auto checkCookie =
        xcb_get_property(c, 0, x.root, atoms_.supportingWmCheck, XCB_ATOM_WINDOW, 0, 1);
    const auto stackingCookie = xcb_get_property(c, 0, x.root, atoms_.clientListStacking,
                                                 XCB_ATOM_WINDOW, 0, kMaxClients);
    bool ignored = false;
    const PropertyReply check = collectProperty(c, checkCookie, ignored);
    const PropertyReply stacking = collectProperty(c, stackingCookie, ignored);
    if (!stacking || stacking->type != XCB_ATOM_WINDOW || stacking->format != 32)
        return std::nullopt;

    ClientList list;
    list.checkWindow = firstCardinal(check.get(), XCB_ATOM_WINDOW);
    const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(stacking.get()));
    list.ids.assign(first, first + xcb_get_property_value_length(stacking.get()) / 4);
    std::ranges::reverse(list.ids);   // the list runs bottom first
    return list;
}

std::vector<xcb_window_t> WindowLister::rootChildren(const X11& x) const
{
    XReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(x.connection, xcb_query_tree(x.connection, x.root), nullptr));
    if (!tree)
        return {};
    const xcb_window_t* first = xcb_query_tree_children(tree.get());
    std::vector<xcb_window_t> ids(first, first + xcb_query_tree_children_length(tree.get()));
    std::ranges::reverse(ids);   // children run bottom first
    return ids;
}

WindowLister::Pending WindowLister::ask(xcb_connection_t* c, xcb_window_t w, bool managed) const
{
    Pending p;
    p.id = w;
    if (!managed)
        p.attributes = xcb_get_window_attributes(c, w);
    p.netName = xcb_get_property(c, 0, w, atoms_.netWmName, atoms_.utf8String, 0, kNetNameLongs);
    p.wmName = xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                kWmNameLongs);
    if (managed)
        p.wmState = xcb_get_property(c, 0, w, atoms_.wmState, atoms_.wmState, 0, 2);
    p.netPid = xcb_get_property(c, 0, w, atoms_.netWmPid, XCB_ATOM_CARDINAL, 0, 1);
    p.machine = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY,
                                 0, kMachineLongs);
    if (haveRes_) {
        const xcb_res_client_id_spec_t asked{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        p.owner = xcb_res_query_client_ids(c, 1, &asked);
    }
    return p;
}

std::optional<WindowInfo> WindowLister::answer(const X11& x, const Pending& p, bool managed,
                                               const std::string& host) const
{
    xcb_connection_t* const c = x.connection;
    bool gone = false;
    XReply<xcb_get_window_attributes_reply_t> attributes;
    if (!managed)
        attributes = collect<xcb_get_window_attributes_reply_t>(
            c, p.attributes, xcb_get_window_attributes_reply, gone);
    const PropertyReply netName = collectProperty(c, p.netName, gone);
    const PropertyReply wmName = collectProperty(c, p.wmName, gone);
    const PropertyReply wmState = managed ? collectProperty(c, p.wmState, gone) : nullptr;
    const PropertyReply netPid = collectProperty(c, p.netPid, gone);
    const PropertyReply machine = collectProperty(c, p.machine, gone);
    XReply<xcb_res_query_client_ids_reply_t> owner;
    if (haveRes_)
        owner = collect<xcb_res_query_client_ids_reply_t>(c, p.owner,
                                                           xcb_res_query_client_ids_reply, gone);
    if (gone)
        return std::nullopt;
    if (!managed && (!attributes || attributes->override_redirect ||
                     attributes->map_state != XCB_MAP_STATE_VIEWABLE))
        return std::nullopt;

    WindowInfo info;
    info.id = p.id;
    info.title = titleOf(x, netName.get(), wmName.get());
    if (managed) {
        const auto state = firstCardinal(wmState.get(), atoms_.wmState);
        info.visible = state && (*state == kNormalState || *state == kIconicState);
    } else {
        info.visible = true;   // only viewable windows get this far
    }

    // _NET_WM_PID is a process id on the client's machine, so it counts only when that
    // machine is this one; the server's own knowledge of its local clients is the fallback.
    const std::string_view clientMachine = bytesOf(machine.get());
    const bool local = clientMachine.empty() || sameMachine(clientMachine, host);
    const auto declared = firstCardinal(netPid.get(), XCB_ATOM_CARDINAL);
    if (local && declared && *declared != 0 && *declared <= INT_MAX)
        info.pid = *declared;
    else
        info.pid = localPidOf(owner.get());
    return info;
}

std::string WindowLister::titleOf(const X11& x, const xcb_get_property_reply_t* netName,
                                  const xcb_get_property_reply_t* wmName) const
{
    if (netName != nullptr && netName->type == atoms_.utf8String && !bytesOf(netName).empty())
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

void WindowLister::discard(xcb_connection_t* c, const Pending& p, bool managed) const
{
    if (!managed)
        xcb_discard_reply(c, p.attributes.sequence);
    for (const auto& cookie : {p.netName, p.wmName, p.netPid, p.machine})
        xcb_discard_reply(c, cookie.sequence);
    if (managed)
        xcb_discard_reply(c, p.wmState.sequence);
    if (haveRes_)
        xcb_discard_reply(c, p.owner.sequence);
}

std::vector<WindowInfo> WindowLister::list()
{
    const auto x = qtX11();
    if (!x || !prepare(*x))
        return {};
    xcb_connection_t* const c = x->connection;

    // Every question about every window goes out before the first answer is awaited. Which
    // windows: the window manager's clients; without one, the root's children.
    std::vector<Pending> pending;
    bool managed = false;
    if (const auto clients = clientList(*x)) {
        // A window manager that has gone leaves its list behind on the root, but its check
        // window, which names itself, goes with it. Asked first, so it is answered first.
        std::optional<xcb_get_property_cookie_t> check;
        if (clients->checkWindow)
            check = xcb_get_property(c, 0, *clients->checkWindow, atoms_.supportingWmCheck,
                                     XCB_ATOM_WINDOW, 0, 1);
        for (const xcb_window_t id : clients->ids)
            pending.push_back(ask(c, id, true));
        managed = true;
        if (check) {
            bool ignored = false;
            const PropertyReply self = collectProperty(c, *check, ignored);
            managed = firstCardinal(self.get(), XCB_ATOM_WINDOW) == clients->checkWindow;
        }
        if (!managed) {
            for (const Pending& p : pending)
                discard(c, p, true);
            pending.clear();
        }
    }
    if (!managed) {
        for (const xcb_window_t id : rootChildren(*x))
            pending.push_back(ask(c, id, false));
    }

    const std::string host = thisHost();
    std::unordered_map<std::uint32_t, std::uint64_t> startTimes;
    std::vector<WindowInfo> result;
    result.reserve(pending.size());
    for (const Pending& p : pending) {
        auto info = answer(*x, p, managed, host);
        if (!info)
            continue;
        if (info->pid != 0) {
            const auto [it, fresh] = startTimes.try_emplace(info->pid, 0);
            if (fresh)
                it->second = readStartTime(info->pid);
            info->identity = it->second;
        }
        result.push_back(std::move(*info));
    }
    return result;
}

}  // namespace platform::linux_impl
