#pragma once

#include "app/ChildForm.h"

class TForm6 : public ChildForm {
    Q_OBJECT
public:
    explicit TForm6(QWidget *parent = nullptr);
};
