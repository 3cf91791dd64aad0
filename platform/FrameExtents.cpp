#include "FrameExtents.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace FrameExtents {

namespace {

xcb_connection_t* connection()
{
    // Other platforms (offscreen) may offer the interface with no connection.
    const auto* x11 = qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")
        ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
        : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The property's atom, asked for once and without waiting; the answer is
// taken when first needed, by which time it has come. Every wait for the
// display is a round trip.
class ExtentsAtom {
public:
    static ExtentsAtom& on(xcb_connection_t* connection)
    {
        static ExtentsAtom atom(connection);
        return atom;
    }

    // Waits for the answer if it has not come yet.
    xcb_atom_t get()
    {
        if (!m_known)
            take(xcb_intern_atom_reply(m_connection, m_request, nullptr));
        return m_atom;
    }

    // Without waiting: nothing while the answer is still on its way.
    std::optional<xcb_atom_t> ifAnswered()
    {
        if (!m_known) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (!xcb_poll_for_reply(m_connection, m_request.sequence, &reply, &error))
                return std::nullopt;
            std::free(error);
            take(static_cast<xcb_intern_atom_reply_t*>(reply));
        }
        return m_atom;
    }

private:
    explicit ExtentsAtom(xcb_connection_t* connection)
        : m_connection(connection)
    {
        static constexpr char Name[] = "_NET_FRAME_EXTENTS";
        m_request = xcb_intern_atom(connection, 0, std::strlen(Name), Name);
    }

    void take(xcb_intern_atom_reply_t* reply)
    {
        m_atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        m_known = true;
    }

    xcb_connection_t* m_connection;
    xcb_intern_atom_cookie_t m_request;
    bool m_known = false;
    xcb_atom_t m_atom = XCB_ATOM_NONE;
};

// Hears the manager set the property: it does so on the client window,
// whose property changes Qt asks the display to report.
class Watch : public QObject, public QAbstractNativeEventFilter {
public:
    Watch(QWidget& window, xcb_connection_t* connection, std::function<void()> stated)
        : QObject(&window)
        , m_window(window)
        , m_atom(ExtentsAtom::on(connection))
        , m_stated(std::move(stated))
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Watch() override
    {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        const WId own = m_window.internalWinId();
        if (!own || change->window != xcb_window_t(own))
            return false;
        // The answer comes before any frame a manager states: the question
        // was asked before the window was mapped, and the display answers
        // in order.
        const std::optional<xcb_atom_t> extents = m_atom.ifAnswered();
        if (extents && *extents != XCB_ATOM_NONE && change->atom == *extents)
            m_stated();
        return false; // Qt notes the change too
    }

private:
    QWidget& m_window;
    ExtentsAtom& m_atom;
    std::function<void()> m_stated;
};

}

std::optional<QMargins> of(const QWidget& window)
{
    xcb_connection_t* const x11 = connection();
    if (!x11 || !window.isWindow() || !window.testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    const xcb_atom_t extentsAtom = ExtentsAtom::on(x11).get();
    if (extentsAtom == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x11,
        xcb_get_property(x11, 0, xcb_window_t(window.winId()), extentsAtom, XCB_ATOM_CARDINAL, 0, 4), nullptr);
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

void watch(QWidget& window, std::function<void()> stated)
{
    if (xcb_connection_t* const x11 = connection())
        new Watch(window, x11, std::move(stated));
}

}
