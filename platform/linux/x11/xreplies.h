#pragma once
// What the X server's replies say, read defensively: a reply may be missing (an error came
// instead) or of another type or format than asked for, since any client may write any
// property.

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace platform::linux_impl {

// The bytes of a format-8 property; empty otherwise.
std::string_view bytesOf(const xcb_get_property_reply_t* reply);
// The first value of a format-32 property of `type`.
std::optional<std::uint32_t> firstCardinal(const xcb_get_property_reply_t* reply, xcb_atom_t type);
// A list of windows (format 32, type WINDOW), reversed: the lists run bottom (or oldest) first.
std::vector<xcb_window_t> windowsOf(const xcb_get_property_reply_t* reply);
// A window's children, bottom first.
std::vector<xcb_window_t> childrenOf(const xcb_query_tree_reply_t* tree);
// The local pid XRes gives for `client` (the base of its resource ids); 0 when none.
std::uint32_t localPidOf(const xcb_res_query_client_ids_reply_t* reply, std::uint32_t client);

// Whether sequence number `sequence` comes before `reference`, on the 32-bit circle.
inline bool before(std::uint32_t sequence, std::uint32_t reference)
{
    return static_cast<std::int32_t>(sequence - reference) < 0;
}

}  // namespace platform::linux_impl
