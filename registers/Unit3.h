#pragma once
// The section register: add, rename and delete the rows of SECTION.

#include "app/FormDialog.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TForm3 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);

    void RefreshGrid();

    QLabel *Label1 = nullptr;
    QTableWidget *SG1 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Edit1 = nullptr;
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
    bool refreshing_ = false;
};

extern TForm3 *Form3;
