#pragma once
// The pen tip dialog: shape and size of one painting window's pen.

#include "forms/FormDialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class PenTipDialog : public FormDialog {
    Q_OBJECT
public:
    explicit PenTipDialog(QWidget *parent = nullptr);

    // The caller's interface: TipType/TipSize in, Accepted and both out.
    bool Accepted = false;
    int TipType = 0;
    int TipSize = 1;

    QLabel *Label1 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

public slots:
    void FormShow() override;
    void Button1Click();
    void Button2Click();
};

extern PenTipDialog *penTipDialog;
