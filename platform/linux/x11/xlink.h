#pragma once
// A connection of the window list's own to the X server, with waits that end at a deadline.
//
// Why not Qt's connection: the window list selects events on the root and on every other
// client's windows, and an event mask belongs to one connection. On Qt's connection it would
// replace the root mask Qt set for itself, every other window's changes would pass through Qt's
// own event handling, and every request about a window that has just gone would end up as an
// error message of Qt's. On a connection of our own the events, errors and sequence numbers are
// ours alone, and the socket can be read whenever the event loop sees data on it.

#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <unordered_set>

#include "platform/linux/x11/x11.h"

namespace platform::linux_impl {

class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds budget)
        : end_(std::chrono::steady_clock::now() + budget)
    {
    }
    // Milliseconds left, 0 once passed.
    int left() const;

private:
    std::chrono::steady_clock::time_point end_;
};

class XLink {
public:
    // Connects to `display` (nullptr: $DISPLAY); nullptr when that fails.
    static std::unique_ptr<XLink> open(const char* display);
    ~XLink();
    XLink(const XLink&) = delete;
    XLink& operator=(const XLink&) = delete;

    xcb_connection_t* connection() const { return c_; }
    int fd() const { return xcb_get_file_descriptor(c_); }
    xcb_window_t root() const { return root_; }
    bool broken() const { return xcb_connection_has_error(c_) != 0; }

    // The reply (or error) to request `sequence`, waiting for it at most until `deadline`.
    // False when it did not come in time or the connection broke; the caller then discards it.
    bool await(unsigned sequence, const Deadline& deadline, void** reply,
               xcb_generic_error_t** error);

private:
    XLink(xcb_connection_t* c, xcb_window_t root) : c_(c), root_(root) {}
    xcb_connection_t* c_;
    xcb_window_t root_;
};

// The replies of one batch of requests, taken in the order they were asked. Whatever is not
// taken (a wait ran out, or the batch was abandoned) is discarded when the batch ends, so that
// no reply piles up in the connection.
class Batch {
public:
    Batch(XLink& link, const Deadline& deadline) : link_(link), deadline_(deadline) {}
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    // Registers a request whose reply will be taken; returns its sequence number.
    unsigned ask(unsigned sequence)
    {
        pending_.insert(sequence);
        return sequence;
    }

    // The reply to `sequence` (nullptr on an error or when the wait failed). `errorCode`: the X
    // error, 0 when none.
    template <class Reply>
    XReply<Reply> take(unsigned sequence, int* errorCode = nullptr)
    {
        return XReply<Reply>(static_cast<Reply*>(takeRaw(sequence, errorCode)));
    }

    // A wait ran out of time or the connection broke: the batch's answers are incomplete.
    bool failed() const { return failed_; }
    // An error other than a vanished window came back: the copy cannot be trusted.
    bool unexpectedError() const { return unexpected_; }

private:
    void* takeRaw(unsigned sequence, int* errorCode);

    XLink& link_;
    const Deadline& deadline_;
    std::unordered_set<unsigned> pending_;
    bool failed_ = false;
    bool unexpected_ = false;
};

}  // namespace platform::linux_impl
