#include "Form.h"

#include "FrameExtents.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>
#include <algorithm>

namespace {
// A manager that does not state its frame is asked after it now and then:
// 20 ms after showing, then at twice the last wait, for some ten seconds
// (a busy window manager may take a while).
constexpr int FirstFrameCheck = 20, LastFrameCheck = 5120;

// Qt's X11 window type list, read from this property of the window whenever
// its flags are applied (the value is Qt's bit for _NET_WM_WINDOW_TYPE_TOOLBAR).
constexpr const char* X11WindowTypeProperty = "_q_xcb_wm_window_type";
constexpr int X11ToolbarType = 0x8;
}

TForm::TForm(Frame frame, QSize clientSize, QWidget* parent)
    : QWidget(parent,
        frame == Frame::None ? Qt::Window | Qt::FramelessWindowHint
                             : Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_frame(frame)
{
    setFixedSize(clientSize);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void TForm::checkFrame()
{
    if (!isVisible())
        return;
    if (const QMargins now = frame(); now != m_placedFrame) {
        m_placedFrame = now;
        frameKnown();
    }
}

void TForm::checkFrameSoon()
{
    if (m_frameCheckDue)
        return;
    m_frameCheckDue = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_frameCheckDue = false;
            checkFrame();
        },
        Qt::QueuedConnection);
}

void TForm::setOwner(QWidget* owner)
{
    m_owner = owner;
    if ((windowFlags() & Qt::WindowType_Mask) == Qt::Window)
        setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::Dialog);
}

QMargins TForm::frame() const
{
    return FrameExtents::of(*this).value_or(measuredFrame());
}

QMargins TForm::measuredFrame() const
{
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QMargins measured { inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
        outer.bottom() - inner.bottom() };
    // Measured around a frame still being made (1 x 1): not a frame yet.
    if (measured.left() < 0 || measured.top() < 0 || measured.right() < 0 || measured.bottom() < 0)
        return {};
    return measured;
}

QPoint TForm::centredPosition() const
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return pos();
    const QSize area = screen->geometry().size();
    const QMargins outer = frame();
    const QPoint outerCorner { std::max(0, (area.width() - (width() + outer.left() + outer.right())) / 2),
        std::max(0, (area.height() - (height() + outer.top() + outer.bottom())) / 2) };
    // move() places the frame by the frame Qt measured, which may lag behind.
    const QMargins measured = measuredFrame();
    return outerCorner + QPoint(outer.left() - measured.left(), outer.top() - measured.top());
}

void TForm::offerOnlyCloseBox()
{
    // Some window managers (openbox) keep minimise on a utility window
    // whatever the Motif hints say, but drop it for a toolbar window. The
    // type list becomes toolbar, utility, normal; the flags are applied
    // again, because Qt reads the property only then.
    winId();
    QWindow* window = windowHandle();
    if (!window || window->property(X11WindowTypeProperty).isValid())
        return;
    window->setProperty(X11WindowTypeProperty, X11ToolbarType);
    const Qt::WindowFlags flags = window->flags();
    window->setFlags(flags ^ Qt::WindowDoesNotAcceptFocus);
    window->setFlags(flags);
}

void TForm::showEvent(QShowEvent* event)
{
    if (m_frame == Frame::Tool && !event->spontaneous())
        offerOnlyCloseBox();
    if (m_owner && !event->spontaneous()) {
        // Written to the window before it is mapped.
        m_owner->winId();
        winId();
        if (windowHandle() && m_owner->windowHandle())
            windowHandle()->setTransientParent(m_owner->windowHandle());
    }
    if (!m_shownOnce && !event->spontaneous()) {
        m_shownOnce = true;
        m_placedFrame = frame();
        if (m_centre) {
            m_centredThisShowing = true;
            move(centredPosition());
        }
    }
    QWidget::showEvent(event);
}

bool TForm::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
    case QEvent::Paint:
        // The window manager has framed the window: place it again with
        // the frame, once.
        checkFrameSoon();
        break;
    case QEvent::Show:
        // Made on first showing, after the window's controls, so that it
        // stays out of their order.
        if (!m_frameWatch) {
            // Managers that state the frame are heard the moment they do.
            FrameExtents::watch(*this, [this] { checkFrameSoon(); });
            m_frameWatch = new QTimer(this);
            m_frameWatch->setSingleShot(true);
            connect(m_frameWatch, &QTimer::timeout, this, [this] {
                checkFrame();
                if (m_frameWatch->interval() < LastFrameCheck)
                    m_frameWatch->start(m_frameWatch->interval() * 2);
            });
        }
        m_frameWatch->start(FirstFrameCheck);
        break;
    case QEvent::Hide:
        m_centredThisShowing = false;
        break;
    default:
        break;
    }
    return result;
}

void TForm::frameKnown()
{
    if (m_centredThisShowing)
        move(centredPosition());
}

void TForm::showInFront()
{
    show();
    raise();
    activateWindow();
}
