#pragma once

#include "app/ChildForm.h"

class TForm8 : public ChildForm {
    Q_OBJECT
public:
    explicit TForm8(QWidget *parent = nullptr);
};
