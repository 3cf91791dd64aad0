#pragma once

#include "Form.h"

class TForm5 : public TForm {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
};

extern TForm5* Form5;
