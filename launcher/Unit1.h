// The launcher's window: the release's title and publisher, and up to three
// buttons that each start one program of the release, all read from
// "autoplay.ini" in the launcher's own folder.
#pragma once

#include "Form.h"
#include "ui_Unit1.h"

#include <QCoreApplication>
#include <array>

class TForm1 : public TForm, public Ui::TForm1 {
    Q_OBJECT
public:
    // `programFolder` ends in "/"; it is the executable's folder unless a
    // test puts the launcher somewhere else.
    explicit TForm1(const QString& programFolder = ownFolder(), QWidget* parent = nullptr);
    ~TForm1() override;

    static QString ownFolder();

    QString programFolder() const { return m_programFolder; }
    // Entry 1..3's directory relative to the program folder: empty, or
    // ending in "/".
    QString directory(int entry) const { return m_directories.at(size_t(entry - 1)); }

    void FormCreate();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void quitClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPushButton* button;
        TLabel* program;
        TLabel* parameters;
    };
    Entry entry(int number) const;
    void launch(int number);

    QString m_programFolder;
    std::array<QString, 3> m_directories;
};

extern TForm1* Form1;
