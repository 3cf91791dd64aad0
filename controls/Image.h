// A picture control: draws its picture unscaled from its top-left corner,
// clipped to its own rectangle. A transparent picture takes the colour of
// its bottom-left pixel as the transparent colour. Reports clicks and
// pointer movement (without a button held) over it.
#pragma once

#include <QImage>
#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QImage picture READ picture WRITE setPicture)
    Q_PROPERTY(bool transparent READ transparent WRITE setTransparent)
public:
    explicit TImage(QWidget* parent = nullptr);

    // One of the program's own pictures by name ("background"), compiled in
    // under :/art/ in the form StoredPixels.h describes; a null picture when
    // there is none.
    static QImage artwork(const QString& name);

    const QImage& picture() const { return m_picture; }
    void setPicture(const QImage& picture);
    bool transparent() const { return m_transparent; }
    void setTransparent(bool on);

signals:
    void clicked();
    void mouseMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void prepare();

    QImage m_picture;
    QImage m_shown; // m_picture with the transparent colour cut out
    bool m_transparent = false;
};
