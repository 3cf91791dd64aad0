// bench_plain_window: the yardstick of bench_startup, a plain Qt Widgets
// window of the installer's main window's size, frameless and centred like
// it, linked with nothing but Qt Widgets.
//
// With --strip it is also the yardstick of bench_idle: a plain opaque strip
// of the banner's size and place, a line of text moved 3 pixels and
// repainted at once every 10 ms, the least any Qt Widgets program does for
// such a banner.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstring>

namespace {

class Strip : public QWidget {
public:
    explicit Strip(QWidget* parent)
        : QWidget(parent)
        , m_text(1000, 20)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        m_text.fill(Qt::black);
        QPainter painter(&m_text);
        painter.setPen(Qt::gray);
        painter.drawText(m_text.rect(), Qt::AlignVCenter, QStringLiteral("A line of text that scrolls past, step by step"));
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_position = (m_position + 3) % (m_text.width() + width());
            repaint();
        });
        m_timer.start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.drawPixmap(width() - m_position, 0, m_text);
    }

private:
    QPixmap m_text;
    QTimer m_timer;
    int m_position = 0;
};

}

int main(int argc, char* argv[])
{
    const bool strip = argc > 1 && std::strcmp(argv[1], "--strip") == 0;
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::FramelessWindowHint);
    window.setFixedSize(452, 345);
    window.move(window.screen()->geometry().center() - window.rect().center());
    if (strip)
        (new Strip(&window))->setGeometry(3, 323, 448, 20);
    window.show();
    return QApplication::exec();
}
