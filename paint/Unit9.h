#pragma once

#include "app/FormDialog.h"

class TForm9 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm9(QWidget *parent = nullptr);
};

extern TForm9 *Form9;
