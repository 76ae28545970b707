#pragma once
// The section register: add, rename and delete the rows of SECTION.

#include "windows/RegisterDialog.h"

class SectionRegister : public RegisterDialog {
    Q_OBJECT
public:
    explicit SectionRegister(QWidget *parent = nullptr);

protected:
    void FillGrid() override;
    QStringList RowValues(int number, const QString &name) const override;
    // A section that a member belongs to stays.
    bool DeleteRefused(int number) override;
};

extern SectionRegister *sectionRegister;
