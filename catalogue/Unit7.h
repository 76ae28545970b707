#pragma once

#include "app/ChildForm.h"

class TForm7 : public ChildForm {
    Q_OBJECT
public:
    explicit TForm7(QWidget *parent = nullptr);
};
