// The base of every window: fixed client size, and centring on the screen
// the first time the window is shown only (later showings keep their place).
//
// Placement counts the outer frame. A window manager adds its frame only
// once the window is mapped, so a framed window is placed again the moment
// its frame becomes known (frameKnown()); windows without a frame are placed
// once.
#pragma once

#include <QMargins>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class TForm : public QWidget {
    Q_OBJECT
public:
    // Tool: a small title bar with a close box only.
    enum class Frame { None, Tool };

    TForm(Frame frame, QSize clientSize, QWidget* parent = nullptr);

    void setCentredOnFirstShow(bool centred) { m_centre = centred; }
    bool hasBeenShown() const { return m_shownOnce; }

    // Keeps this window above `owner` (transient for it), also when the
    // window manager raises the owner on a click: a step shown while the
    // owner is disabled must never end up behind it.
    // (X11 window managers take that only from dialog and tool windows, so
    // a frameless step becomes a frameless dialog.) Call before the first
    // showing.
    void setOwner(QWidget* owner);

    // Shows the window and brings it to the front.
    void showInFront();

    // The frame the window manager draws around the client area (none
    // while the window is unmapped or has no frame).
    QMargins frame() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

    // The position for move() that centres the window's outer frame on the
    // screen.
    QPoint centredPosition() const;

    // The frame became known (or changed) after the window was placed: the
    // first centring is done again with it.
    virtual void frameKnown();

private:
    // The frame as Qt measures it from the window tree; none while that
    // measure is of a frame still being made.
    QMargins measuredFrame() const;
    // Written to the window before it is mapped.
    void offerOnlyCloseBox();

    Frame m_frame;
    bool m_centre = true;
    bool m_shownOnce = false;
    bool m_centredThisShowing = false;
    // The frame the window was last placed with: a window manager may report
    // it in steps (border first, title bar later).
    QMargins m_placedFrame;
    void checkFrame();
    // Asking for the frame is a round trip to the display: events ask once
    // their handling is over, so that a paint reaches the screen first.
    void checkFrameSoon();
    bool m_frameCheckDue = false;
    // Watches for the frame a while after showing: with static gravity the
    // window does not move when it is framed, so no event of Qt's may tell.
    QTimer* m_frameWatch = nullptr;
    QPointer<QWidget> m_owner;
};
