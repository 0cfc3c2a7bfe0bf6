#include "platform/linux/x11/xlink.h"

#include <poll.h>
#include <xcb/xcbext.h>   // xcb_poll_for_reply

#include <cstdlib>

namespace platform::linux_impl {

int Deadline::left() const
{
    const auto now = std::chrono::steady_clock::now();
    if (now >= end_)
        return 0;
    // Rounded up, so that a wait never spins on a remainder below a millisecond.
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(end_ - now).count());
}

std::unique_ptr<XLink> XLink::open(const char* display)
{
    int screen = 0;
    xcb_connection_t* c = xcb_connect(display, &screen);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem > 1; ++i)
        xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(c);
        return nullptr;
    }
    return std::unique_ptr<XLink>(new XLink(c, it.data->root));
}

XLink::~XLink()
{
    xcb_disconnect(c_);
}

bool XLink::await(unsigned sequence, const Deadline& deadline, void** reply,
                  xcb_generic_error_t** error)
{
    xcb_flush(c_);   // the question may still sit in our buffer
    for (;;) {
        // Reads what has arrived without blocking, then looks for the answer.
        if (xcb_poll_for_reply(c_, sequence, reply, error) != 0)
            return true;
        if (broken())
            return false;
        const int left = deadline.left();
        if (left == 0)
            return false;
        pollfd p{fd(), POLLIN, 0};
        ::poll(&p, 1, left);
    }
}

void* Batch::takeRaw(unsigned sequence, int* errorCode)
{
    if (errorCode != nullptr)
        *errorCode = 0;
    if (pending_.erase(sequence) == 0)
        return nullptr;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (failed_ || !link_.await(sequence, deadline_, &reply, &error)) {
        failed_ = true;
        xcb_discard_reply(link_.connection(), sequence);
        return nullptr;
    }
    if (error != nullptr) {
        if (errorCode != nullptr)
            *errorCode = error->error_code;
        // BadWindow is what a window that went away answers; anything else is a surprise.
        unexpected_ = unexpected_ || error->error_code != XCB_WINDOW;
        std::free(error);
    }
    return reply;
}

Batch::~Batch()
{
    for (const unsigned sequence : pending_)
        xcb_discard_reply(link_.connection(), sequence);
}

}  // namespace platform::linux_impl
