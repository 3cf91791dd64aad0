// The new-directory name prompt of the destination chooser: the directory
// is made below the chooser's directory and the chooser moves into it.
#pragma once

#include "Form.h"
#include "ui_Unit3.h"

class TForm3 : public TForm, public Ui::TForm3 {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // `name` below `directory`; a root already ends in its separator.
    static QString NewDirectoryPath(const QString& directory, const QString& name);

    void FormCreate();
    void Label2Click();
    void Label3Click();
};

extern TForm3* Form3;
