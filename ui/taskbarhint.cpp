#include "taskbarhint.h"

#include <QGuiApplication>
#include <QWidget>

#if defined(ORMIX_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace
#endif

void WindowLook::skipTaskbar(QWidget *window)
{
#if defined(ORMIX_HAVE_XCB)
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t skipPager = internAtom(connection, "_NET_WM_STATE_SKIP_PAGER");
    if (state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE || skipPager == XCB_ATOM_NONE)
        return;

    // The property, for a window manager that reads it when it maps the window...
    std::vector<xcb_atom_t> atoms;
    const auto cookie = xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 64);
    if (xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr)) {
        if (reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
            const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
    }
    for (const xcb_atom_t atom : {skipTaskbar, skipPager}) {
        if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());

    // ...and the request the EWMH rules prescribe for a window that is already mapped.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = state;
    event.data.data32[0] = 1; // add
    event.data.data32[1] = skipTaskbar;
    event.data.data32[2] = skipPager;
    event.data.data32[3] = 1; // from a normal application
    const xcb_setup_t *setup = xcb_get_setup(connection);
    for (auto it = xcb_setup_roots_iterator(setup); it.rem; xcb_screen_next(&it)) {
        xcb_send_event(connection, 0, it.data->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&event));
    }
    xcb_flush(connection);
#else
    Q_UNUSED(window);
#endif
}
