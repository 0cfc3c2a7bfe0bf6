#include "platform/linux/x11/xreplies.h"

#include <algorithm>
#include <cstring>

namespace platform::linux_impl {

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

}  // namespace platform::linux_impl
