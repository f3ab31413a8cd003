// A look at an X desktop from a test, over a connection of its own: what a window manager
// made of a window (its frame, state, type, the actions it offers, its place on the screen),
// and a notification area the test owns, which it can take away again.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace testsupport {

// What the desktop made for the test has (desktop.py): "x11", "tray", "window-manager",
// "panel".
inline bool DesktopHas(const std::string& feature) {
    const char* has = std::getenv("KESTROVA_DESKTOP");
    return has && ("," + std::string(has) + ",").find("," + feature + ",") != std::string::npos;
}

class X11Look {
public:
    X11Look() : connection_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(connection_))
            throw std::runtime_error("no X display");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~X11Look() { xcb_disconnect(connection_); }
    X11Look(const X11Look&) = delete;
    X11Look& operator=(const X11Look&) = delete;

    xcb_window_t Root() const { return root_; }
    xcb_connection_t* Connection() const { return connection_; }

    xcb_atom_t Atom(const std::string& name) const {
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr));
        return reply ? reply->atom : 0;
    }
    std::string AtomName(xcb_atom_t atom) const {
        Reply<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
        if (!reply)
            return {};
        return std::string(xcb_get_atom_name_name(reply.get()),
                           static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
    }

    // A property of 32-bit values (atoms, cardinals); empty when the window has none.
    std::vector<std::uint32_t> Values(xcb_window_t window, const std::string& property) const {
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(connection_,
                                   xcb_get_property(connection_, 0, window, Atom(property),
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                                   nullptr));
        if (!reply || reply->format != 32)
            return {};
        const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
        return {values, values + xcb_get_property_value_length(reply.get()) / 4};
    }
    std::vector<std::string> AtomNames(xcb_window_t window, const std::string& property) const {
        std::vector<std::string> names;
        for (std::uint32_t atom : Values(window, property))
            names.push_back(AtomName(atom));
        return names;
    }

    struct Rect {
        int left, top, right, bottom; // right and bottom just outside
    };
    // Where the window stands on the screen, without its frame.
    Rect OnScreen(xcb_window_t window) const {
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
        Reply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr));
        if (!geometry || !place)
            return {};
        return {place->dst_x, place->dst_y, place->dst_x + geometry->width,
                place->dst_y + geometry->height};
    }

private:
    struct Free {
        void operator()(void* p) const { std::free(p); }
    };
    template <class T> using Reply = std::unique_ptr<T, Free>;

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
};

// A notification area for as long as the object lives: it owns the system-tray selection and
// says so to the programs already running, but docks nothing. When it goes, the desktop has
// no notification area any more.
class FakeTray {
public:
    explicit FakeTray(const X11Look& look) : look_(look) {
        xcb_connection_t* c = look_.Connection();
        window_ = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, look_.Root(), 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t selection = look_.Atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(c, window_, selection, XCB_CURRENT_TIME);
        xcb_client_message_event_t manager{};
        manager.response_type = XCB_CLIENT_MESSAGE;
        manager.format = 32;
        manager.window = look_.Root();
        manager.type = look_.Atom("MANAGER");
        manager.data.data32[0] = XCB_CURRENT_TIME;
        manager.data.data32[1] = selection;
        manager.data.data32[2] = window_;
        xcb_send_event(c, 0, look_.Root(), XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&manager));
        xcb_flush(c);
    }
    ~FakeTray() {
        xcb_destroy_window(look_.Connection(), window_);
        xcb_flush(look_.Connection());
    }
    FakeTray(const FakeTray&) = delete;
    FakeTray& operator=(const FakeTray&) = delete;

private:
    const X11Look& look_;
    xcb_window_t window_ = 0;
};

} // namespace testsupport
