#pragma once
// The member register: add, change and delete the rows of MEMBER.

#include "app/FormDialog.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TForm4 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);

    void RefreshGrid();

    QLabel *Label1 = nullptr;
    QTableWidget *SG1 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button3 = nullptr;

public slots:
    void FormShow() override;
    void FormClose() override;
    void SG1Click();
    void Edit1DblClick();
    void Button1Click();
    void Button2Click();
    void Button4Click();
    void Button3Click();

private:
    int selectedSection() const;
    bool refreshing_ = false;
};

extern TForm4 *Form4;
