#include "vcl/X11Window.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace vcl::x11 {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The program's own X connection; null where the platform is not X11.
xcb_connection_t* Connection() {
#if QT_CONFIG(xcb)
    if (!qGuiApp || QGuiApplication::platformName() != "xcb")
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
#else
    return nullptr;
#endif
}

constexpr const char* SkipStates[] = {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"};

} // namespace

void SkipTaskbar(QWidget& window) {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
    // Whatever the window's state holds already stays: Qt adds its own to it when it maps
    // the window.
    std::vector<xcb_atom_t> atoms;
    std::unique_ptr<xcb_get_property_reply_t, FreeReply> current(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr));
    if (current && current->format == 32) {
        const auto* held = static_cast<const xcb_atom_t*>(xcb_get_property_value(current.get()));
        atoms.assign(held, held + xcb_get_property_value_length(current.get()) / 4);
    }
    for (const char* name : SkipStates) {
        const xcb_atom_t atom = Atom(connection, name);
        if (atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
}

void AskSkipTaskbar(QWidget& window) {
    xcb_connection_t* connection = Connection();
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    std::unique_ptr<xcb_query_tree_reply_t, FreeReply> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr));
    if (!tree)
        return;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = Atom(connection, "_NET_WM_STATE");
    message.data.data32[0] = 1; // _NET_WM_STATE_ADD
    message.data.data32[1] = Atom(connection, SkipStates[0]);
    message.data.data32[2] = Atom(connection, SkipStates[1]);
    message.data.data32[3] = 1; // from an application
    xcb_send_event(connection, 0, tree->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

} // namespace vcl::x11
