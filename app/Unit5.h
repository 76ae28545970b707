#pragma once
// The PC user dialog: which registered member uses this PC.

#include "app/FormDialog.h"

class QComboBox;
class QLabel;
class QPushButton;

class TForm5 : public FormDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);

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

extern TForm5 *Form5;
