#pragma once

#include "Form.h"

class TForm6 : public TForm {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);
};

extern TForm6* Form6;
