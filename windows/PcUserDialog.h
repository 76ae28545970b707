#pragma once
// The PC user dialog: which registered member uses this PC.

#include "forms/FormDialog.h"

class QComboBox;
class QLabel;
class QPushButton;

class PcUserDialog : public FormDialog {
    Q_OBJECT
public:
    explicit PcUserDialog(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

public slots:
    void FormShow() override;
    void FormClose() override;
    void Button1Click();
    void Button2Click();
};

extern PcUserDialog *pcUserDialog;
