// The launcher's window: the release's title and up to three buttons that
// start its programs.
#pragma once

#include "Form.h"

class TForm1 : public TForm {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
};

extern TForm1* Form1;
