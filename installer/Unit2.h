#pragma once

#include "Form.h"
#include "Label.h"

class TForm2 : public TForm {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    TLabel* Label8;
};

extern TForm2* Form2;
