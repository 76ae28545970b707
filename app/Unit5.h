#pragma once

#include "app/FormDialog.h"

class TForm5 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);
};

extern TForm5 *Form5;
