#include "FrameExtents.h"

#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace FrameExtents {

std::optional<QMargins> of(const QWidget& window)
{
    // Other platforms (offscreen) may offer the interface with no connection.
    const auto* x11 = qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")
        ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
        : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window.isWindow() || !window.testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    // Asked for once: every question is a round trip to the display.
    static const xcb_atom_t extentsAtom = [connection] {
        static constexpr char Name[] = "_NET_FRAME_EXTENTS";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(Name), Name), nullptr);
        const xcb_atom_t found = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(atom);
        return found;
    }();
    if (extentsAtom == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection,
        xcb_get_property(connection, 0, xcb_window_t(window.winId()), extentsAtom, XCB_ATOM_CARDINAL, 0, 4), nullptr);
    if (!reply)
        return std::nullopt;
    std::optional<QMargins> extents;
    // left, right, top, bottom
    if (reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
        const auto* v = static_cast<const quint32*>(xcb_get_property_value(reply));
        if (v[0] < 10000 && v[1] < 10000 && v[2] < 10000 && v[3] < 10000)
            extents = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
    }
    std::free(reply);
    return extents;
}

}
