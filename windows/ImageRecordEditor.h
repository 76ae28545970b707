#pragma once
// The image record editor: creates or changes one IMGLIST row.

#include "forms/ChildForm.h"
#include "core/connection/MainDb.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

class ImageRecordEditor : public ChildForm {
    Q_OBJECT
public:
    explicit ImageRecordEditor(QWidget *parent = nullptr);

    int openMode() const { return OpenMode; }

    QWidget *Panel1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QLineEdit *Edit4 = nullptr;
    QLineEdit *Edit5 = nullptr;
    QLineEdit *Edit6 = nullptr;
    QLineEdit *Edit7 = nullptr;
    QLineEdit *Edit8 = nullptr;
    QLineEdit *Edit9 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label10 = nullptr;
    QLabel *Label12 = nullptr;
    QLabel *Label13 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button4 = nullptr;

public slots:
    void FormShow() override;
    void FormClose() override;
    void Edit1DblClick();
    // Both date boxes; the one double-clicked receives today's date.
    void Edit8DblClick(QObject *Sender);
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *e) override;

private:
    // The number box gets the next free number once it is read (kept when it cannot be).
    void ProposeNextNumber();
    // The checks after the number's look-up, then the INSERT or UPDATE.
    void Store(int n, int author);
    template <class R>
    void Ask(DbRequest<R> request, std::function<void(R, DbReply)> answer);

    int OpenMode = 0;
    int OpenImageNo = 0;
    bool sized_ = false;
};
