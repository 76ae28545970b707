#pragma once
// The database settings dialog: server prefix, folder on the server, file name.

#include "forms/FormDialog.h"

class QLabel;
class QLineEdit;
class QPushButton;

// Upper case, and ".FDB" when the name has no extension; "\", "/" and ":" end a folder part.
QString DatabaseNameWithExtension(const QString &typed);

class DatabaseSettingsDialog : public FormDialog {
    Q_OBJECT
public:
    explicit DatabaseSettingsDialog(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

public slots:
    void FormShow() override;
    void FormClose() override;
    void Button1Click();
    void Button2Click();
};

extern DatabaseSettingsDialog *databaseSettingsDialog;
