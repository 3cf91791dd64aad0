// The installer's main window: the release's title, credit line, information
// text and banner, and the three menu rows. Its hidden controls hold the
// install description's values, which the other windows read.
#pragma once

#include "Form.h"
#include "ShellLnk.h"
#include "ui_Unit1.h"

class TForm1 : public TForm, public Ui::TForm1 {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The directory that was current when the window was created, as the
    // hidden directory list holds it.
    QString sourceDirectory() const { return m_sourceDirectory; }

    // Writes the release's shortcut once the extraction is done.
    TKvShellLink* KvShellLink1 = nullptr;

    void DrawBitmapText(const QString& text);

    void FormCreate();
    void Image1MouseMove();
    void Image2MouseMove();
    void Image3MouseMove();
    void Image4MouseMove();
    void Image5Click();
    void Image6Click();
    void Image7Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose();
    void lightRow(int row);

    QString m_sourceDirectory;
};

extern TForm1* Form1;
