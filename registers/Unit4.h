#pragma once

#include "app/FormDialog.h"

class TForm4 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);
};

extern TForm4 *Form4;
