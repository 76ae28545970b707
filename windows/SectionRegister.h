#pragma once
// The section register: add, rename and delete the rows of SECTION.

#include "windows/RegisterDialog.h"

class SectionRegister : public RegisterDialog {
    Q_OBJECT
public:
    explicit SectionRegister(QWidget *parent = nullptr);

protected:
    DbRequest<RowsRead> GridRequest() const override { return ReadSections(); }
    void FillGrid(const QList<QStringList> &rows) override;
    QStringList RowValues(int number, const QString &name) const override;
    // A section that a member belongs to stays.
    void CheckDeletion(int number, std::function<void()> proceed) override;
};

extern SectionRegister *sectionRegister;
