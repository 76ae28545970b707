#include "windows/DatabaseSettingsDialog.h"

#include "forms/FormUtil.h"
#include "core/settings/ProgramIcon.h"
#include "forms/MainLink.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"
#include "forms/BusyCursor.h"
#include "forms/DbCommand.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

DatabaseSettingsDialog *databaseSettingsDialog = nullptr;

QString DatabaseNameWithExtension(const QString &typed)
{
    const QString name = typed.toUpper();
    qsizetype sep = -1;
    for (const QChar c : {QLatin1Char('\\'), QLatin1Char('/'), QLatin1Char(':')})
        sep = qMax(sep, name.lastIndexOf(c));
    if (name.lastIndexOf(QLatin1Char('.')) > sep)
        return name;
    return name + QStringLiteral(".FDB");
}

DatabaseSettingsDialog::DatabaseSettingsDialog(QWidget *parent)
    : FormDialog(QStringLiteral("データベース設定"), 251, 200, 192, 107, parent)
{
    setWindowIcon(ProgramIcon());
    SetBackground(this, Qt::white);

    Label1 = MakeLabel(this, QStringLiteral("サーバー名（IPアドレス＋':'"), 8, 8);
    Label5 = MakeLabel(this, QStringLiteral("　又は、'localhost:'）"), 72, 24);
    Edit1 = MakeEdit(this, 24, 44, 209, 21);
    Edit1->setText(QStringLiteral("localhost:"));
    Edit1->setToolTip(QStringLiteral(
        "1台で運用する場合は「localhost:」、サーバーの場合はそのIPアドレス＋':'（例：「192.168.0.0:」等）を入力して下さい。"));
    Label2 = MakeLabel(this, QStringLiteral("サーバーのデータのフォルダ"), 8, 70);
    Edit2 = MakeEdit(this, 24, 88, 209, 21);
    Edit2->setText(QStringLiteral("C:\\data\\"));
    Edit2->setToolTip(QStringLiteral(
        "データベースファイルを作成するサーバー上のフォルダ名を入力して下さい。最後は必ず「\\」で終わって下さい。例：「C:\\data\\」"));
    Label3 = MakeLabel(this, QStringLiteral("データベース名"), 8, 120);
    Edit3 = MakeEdit(this, 24, 136, 209, 21);
    Edit3->setText(QStringLiteral("PAINT.FDB"));
    Edit3->setToolTip(QStringLiteral(
        "データベース名（ファイル名）を入力して下さい。拡張子は「.FDB」となります。フォルダ名は入力しないで下さい。"));
    Button1 = MakeButton(this, QStringLiteral("OK(&Y)"), 8, 168, 113, 25);
    Button1->setDefault(true);
    Button2 = MakeButton(this, QStringLiteral("キャンセル(&N)"), 128, 168, 113, 25);

    // No length limit, but only what CP932 can hold: the path reaches the server in CP932.
    for (QLineEdit *e : {Edit1, Edit2, Edit3})
        LimitCp932Bytes(e, 0);

    SetTabChain({Edit1, Edit2, Edit3, Button1, Button2});

    connect(Button1, &QPushButton::clicked, this, &DatabaseSettingsDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &DatabaseSettingsDialog::Button2Click);
}

void DatabaseSettingsDialog::FormShow()
{
    Edit1->setText(ServerName);
    Edit2->setText(ServerDataDir);
    Edit3->setText(DatabaseName);
    Edit1->setFocus();
}

void DatabaseSettingsDialog::FormClose()
{
}

void DatabaseSettingsDialog::Button1Click()
{
    if (IsBlank(Edit2->text())) {
        ShowMessage(QStringLiteral("サーバーのデータのフォルダを入力して下さい"));
        Edit2->setFocus();
        return;
    }
    if (IsBlank(Edit3->text())) {
        ShowMessage(QStringLiteral("データベース名を入力して下さい"));
        Edit3->setFocus();
        return;
    }
    // Stored before the test, so a failed test still leaves them in force.
    ServerName = Edit1->text();
    ServerDataDir = Edit2->text();
    DatabaseName = DatabaseNameWithExtension(Edit3->text());

    bool connected = false;
    {
        // The attaches run on threads of their own and the window answers meanwhile:
        // only キャンセル stays usable, and it ends the dialog without waiting for them.
        BusyCursor busy;
        BeginCommandWait(this, {Button2});
        // A character without a CP932 form would reach the server as a substitute and
        // name another file: such a path is neither created nor attached.
        if (Cp932Length(DatabasePath()) >= 0) {
            // An existing file makes the creation fail quietly; the attach then finds it.
            // A creation that got no answer is not followed by an attach that would wait
            // as long again for the same server.
            MainWindowLink()->CreateDatabase();
            if (isVisible() && !MainWindowLink()->LastAttachLost())
                MainWindowLink()->ConnectDatabase();
            connected = MainWindowLink()->IsConnected();
        }
        // Handed to the main-db thread: nothing here waits for the server.
        MainWindowLink()->DisconnectDatabase();
        EndCommandWait(this);
    }
    if (!isVisible())
        return; // cancelled meanwhile
    if (connected) {
        accept();
        return;
    }
    ShowMessage(QStringLiteral("データベースが作成・接続出来ません。設定を確認して下さい。")
                + FolderSeparatorHint(ServerDataDir));
    Edit1->setFocus();
}

void DatabaseSettingsDialog::Button2Click()
{
    reject();
}
