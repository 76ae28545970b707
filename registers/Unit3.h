#pragma once
// The section register: add, rename and delete the rows of SECTION.

#include "registers/RegisterForm.h"

class TForm3 : public RegisterForm {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

protected:
    void FillGrid() override;
    QStringList RowValues(int number, const QString &name) const override;
    // A section that a member belongs to stays.
    bool DeleteRefused(int number) override;
};

extern TForm3 *Form3;
