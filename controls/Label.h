// A label in the manner of the windows this system was drawn with:
// transparent over what lies beneath, an exact pixel font, one colour in
// every state (a disabled window does not grey its labels), and a click
// signal. `setDisabledLook` opts into the platform's grey disabled look.
#pragma once

#include <QColor>
#include <QLabel>

class TLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor)
    Q_PROPERTY(bool disabledLook READ disabledLook WRITE setDisabledLook)
    Q_PROPERTY(int pixelSize READ pixelSize WRITE setPixelSize)
public:
    explicit TLabel(QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    bool disabledLook() const { return m_disabledLook; }
    void setDisabledLook(bool on);

    // Character height in pixels of the label's font.
    int pixelSize() const { return font().pixelSize(); }
    void setPixelSize(int pixels);

    // Sets the font by family, character height in pixels and weight.
    void setPixelFont(const QString& family, int pixelHeight, bool bold);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyPalette();

    QColor m_color = Qt::black;
    bool m_disabledLook = false;
};
