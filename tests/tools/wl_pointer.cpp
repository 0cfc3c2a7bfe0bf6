// Moves the pointer of a wlroots compositor (sway) and clicks, as a person would: a headless
// compositor has no pointer of its own. Uses zwlr_virtual_pointer_manager_v1, whose interface
// is written out here (no protocol files or generated code needed: libwayland-client only).
//
//   wl_pointer WIDTH HEIGHT X Y [left|right|middle]
//
// WIDTH and HEIGHT are the layout's size (the output's, on one output); X and Y the point in
// it. Exit status: 0 done, 1 no compositor or no virtual pointer there, 2 usage.

#include <linux/input-event-codes.h>
#include <time.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

extern const wl_interface virtualPointerInterface;

const wl_interface* createTypes[] = {&wl_seat_interface, &virtualPointerInterface};
const wl_interface* withOutputTypes[] = {&wl_seat_interface, &wl_output_interface,
                                         &virtualPointerInterface};
const wl_interface* noTypes[] = {nullptr, nullptr, nullptr, nullptr, nullptr};

const wl_message managerRequests[] = {
    {"create_virtual_pointer", "?on", createTypes},
    {"destroy", "", noTypes},
    {"create_virtual_pointer_with_output", "2?o?on", withOutputTypes},
};
const wl_interface managerInterface = {"zwlr_virtual_pointer_manager_v1", 2, 3, managerRequests, 0,
                                       nullptr};

enum PointerRequest { kMotion, kMotionAbsolute, kButton, kAxis, kFrame, kAxisSource, kAxisStop,
                      kAxisDiscrete, kDestroy };
const wl_message pointerRequests[] = {
    {"motion", "uff", noTypes},
    {"motion_absolute", "uuuuu", noTypes},
    {"button", "uuu", noTypes},
    {"axis", "uuf", noTypes},
    {"frame", "", noTypes},
    {"axis_source", "u", noTypes},
    {"axis_stop", "uu", noTypes},
    {"axis_discrete", "uufi", noTypes},
    {"destroy", "", noTypes},
};
const wl_interface virtualPointerInterface = {"zwlr_virtual_pointer_v1", 2, 9, pointerRequests, 0,
                                              nullptr};

wl_seat* seat = nullptr;
wl_proxy* manager = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, managerInterface.name) == 0)
        manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &managerInterface, 1));
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

uint32_t now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

void pause(long milliseconds)
{
    timespec t{milliseconds / 1000, (milliseconds % 1000) * 1000000};
    nanosleep(&t, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT X Y [left|right|middle]\n", argv[0]);
        return 2;
    }
    const auto width = static_cast<uint32_t>(std::atoi(argv[1]));
    const auto height = static_cast<uint32_t>(std::atoi(argv[2]));
    const auto x = static_cast<uint32_t>(std::atoi(argv[3]));
    const auto y = static_cast<uint32_t>(std::atoi(argv[4]));
    uint32_t button = 0;
    if (argc == 6) {
        if (std::strcmp(argv[5], "left") == 0)
            button = BTN_LEFT;
        else if (std::strcmp(argv[5], "right") == 0)
            button = BTN_RIGHT;
        else if (std::strcmp(argv[5], "middle") == 0)
            button = BTN_MIDDLE;
        else
            return 2;
    }

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "wl_pointer: no Wayland compositor\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (manager == nullptr || seat == nullptr) {
        std::fprintf(stderr, "wl_pointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    wl_proxy* pointer = wl_proxy_marshal_constructor(manager, 0, &virtualPointerInterface, seat, nullptr);

    wl_proxy_marshal(pointer, kMotionAbsolute, now(), x, y, width, height);
    wl_proxy_marshal(pointer, kFrame);
    wl_display_roundtrip(display);
    if (button != 0) {
        // A moment for the surface under the pointer to take it, as between a person's move and click.
        pause(150);
        wl_proxy_marshal(pointer, kButton, now(), button, uint32_t{1});
        wl_proxy_marshal(pointer, kFrame);
        wl_display_roundtrip(display);
        pause(50);
        wl_proxy_marshal(pointer, kButton, now(), button, uint32_t{0});
        wl_proxy_marshal(pointer, kFrame);
        wl_display_roundtrip(display);
    }
    wl_proxy_marshal(pointer, kDestroy);
    wl_proxy_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
