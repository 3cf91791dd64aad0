// The quit confirmation: "ok" ends the program, "cancel" returns to the main
// window. A greetings line scrolls across it meanwhile.
#pragma once

#include "Form.h"
#include "ui_Unit6.h"

class TForm6 : public TForm, public Ui::TForm6 {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);

    // Disables the main window and shows the confirmation in front.
    void AskToQuit();

    void FormCreate();
    void Label4Click();
    void Label1Click();
};

extern TForm6* Form6;
