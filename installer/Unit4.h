// The extraction window: unpacks the release's archive set under the
// current directory, entry by entry, with a status line, a progress bar per
// entry, the volume in its title and a prompt for each missing disk.
#pragma once

#include "Form.h"
#include "UnRAR.h"
#include "ui_Unit4.h"

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>

class TForm4 : public TForm, public Ui::TForm4 {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    void FormCreate();
    void Label2Click();
    void Label4Click();

    // Archive path: a byte string in the local file-name encoding.
    void ExtractArchive(const std::string& path);
    void ShowStatus(const QString& text);
    void ReportOpenError(int code, const QString& path);
    void ReportProcessError(int code);
    int ChangeVolumeCallback(char* volumePath, int mode);
    int ProcessDataCallback(unsigned char* data, int size);

    bool extracting() const { return m_extracting; }

    // What runs after a complete extraction; the end-of-installation
    // actions unless a test puts something else in their place.
    void setEndActions(std::function<void()> actions) { m_endActions = std::move(actions); }

private:
    // The status line and the bar reach the screen at most once per display
    // frame while an extraction runs; their values change as often as ever.
    void holdStatusPaints(bool hold);
    void paintStatusSoon();
    void paintStatusNow();

    double Progress = 0;
    // The whole unpacked size: a 32-bit figure would turn entries over
    // 2 GiB negative and make a failed 4 GiB entry look empty.
    int64_t EntrySize = 0;

    bool m_extracting = false;
    bool m_cancelled = false;
    std::function<void()> m_endActions;

    bool m_statusHeld = false;
    qint64 m_frameNanoseconds = 0;
    QElapsedTimer m_sinceStatusPaint;
    QTimer m_statusFrame;
};

extern TForm4* Form4;
