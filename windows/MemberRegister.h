#pragma once
// The member register: add, change and delete the rows of MEMBER.

#include "windows/RegisterDialog.h"

class QComboBox;

class MemberRegister : public RegisterDialog {
    Q_OBJECT
public:
    explicit MemberRegister(QWidget *parent = nullptr);

    QLabel *Label2 = nullptr;
    QComboBox *ComboBox1 = nullptr;

protected:
    // Lists the sections, "0:指定無し" first.
    void PrepareShow(std::function<void()> then) override;
    DbRequest<RowsRead> GridRequest() const override { return ReadMemberGrid(); }
    void FillGrid(const QList<QStringList> &rows) override;
    void ShowRow(int r) override;
    QStringList RowValues(int number, const QString &name) const override;

private:
    int selectedSection() const;
};

extern MemberRegister *memberRegister;
