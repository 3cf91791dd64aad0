// The base of every window: fixed client size, and centring on the screen
// the first time the window is shown only (later showings keep their place).
#pragma once

#include <QWidget>

class TForm : public QWidget {
    Q_OBJECT
public:
    enum class Frame { None, Tool };

    TForm(Frame frame, QSize clientSize, QWidget* parent = nullptr);

    void setCentredOnFirstShow(bool centred) { m_centre = centred; }
    bool hasBeenShown() const { return m_shownOnce; }

    // Shows the window and brings it to the front.
    void showInFront();

protected:
    void showEvent(QShowEvent* event) override;

    // Left and top that centre the window's outer frame on the screen.
    QPoint centredPosition() const;

private:
    bool m_centre = true;
    bool m_shownOnce = false;
};
