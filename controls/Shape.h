// A filled rectangle with a one-pixel frame: the dark panels of the
// installation windows.
#pragma once

#include <QColor>
#include <QWidget>

class TShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor brushColor READ brushColor WRITE setBrushColor)
    Q_PROPERTY(QColor penColor READ penColor WRITE setPenColor)
public:
    explicit TShape(QWidget* parent = nullptr);

    QColor brushColor() const { return m_brush; }
    void setBrushColor(const QColor& color);
    QColor penColor() const { return m_pen; }
    void setPenColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_brush = Qt::black;
    QColor m_pen = QColor(128, 128, 128);
};
