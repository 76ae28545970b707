#pragma once

#include "app/FormDialog.h"

class TForm3 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);
};

extern TForm3 *Form3;
