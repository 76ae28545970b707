#pragma once

#include "app/FormDialog.h"

class TForm2 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);
};

extern TForm2 *Form2;
