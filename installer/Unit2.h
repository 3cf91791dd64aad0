// The destination chooser: a drive and a directory, the free space of that
// drive beside the space the release needs, and the way on to the
// extraction window, back to the main window, or to a new directory.
// The chosen directory is handed on as the process's current directory.
#pragma once

#include "Form.h"
#include "ui_Unit2.h"

#include <cstdint>
#include <functional>
#include <string>

class TForm2 : public TForm, public Ui::TForm2 {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    // Free bytes of the filesystem holding a directory, -1 when unknown.
    using FreeSpaceQuery = std::function<int64_t(const std::string& directory)>;
    void setFreeSpaceQuery(FreeSpaceQuery query) { m_freeSpace = std::move(query); }

    void DriveComboBox1Change();
    void Label1Click();
    void Label2Click();
    void Label3Click();

    // Right edge shared by the two right-aligned figures.
    static constexpr int FigureRightEdge = 239;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void alignFigures();

    FreeSpaceQuery m_freeSpace;
};

extern TForm2* Form2;
