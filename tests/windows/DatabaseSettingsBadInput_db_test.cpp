// Odd input in the database settings dialog: each gets its message or a database
// under exactly the name typed, never one under a changed name.
#include "TestDatabase.h"
#include "TestInput.h"
#include "app/MainWindow.h"
#include "windows/DatabaseSettingsDialog.h"
#include "core/settings/SharedSettings.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {



class DbSettingsBadInput : public ::testing::Test {
protected:
    void SetUp() override
    {
        AssignDefaultSettings();
        CreateApplicationWindows();
    }
    void TearDown() override
    {
        if (databaseSettingsDialog)
            databaseSettingsDialog->hide();
        DestroyApplicationWindows();
        AssignDefaultSettings();
    }
    MessageRecorder messages;
};

TEST_F(DbSettingsBadInput, Table)
{
    TempServerDir dir;
    const QString folderMsg = QStringLiteral("サーバーのデータのフォルダを入力して下さい");
    const QString nameMsg = QStringLiteral("データベース名を入力して下さい");
    const QString cannot = QStringLiteral("データベースが作成・接続出来ません。設定を確認して下さい。");
    const QString d = dir.path();
    const QString longName(300, QLatin1Char('N'));
    enum Focus { None, Server, Folder, Name };
    const struct {
        QString server, folder, name;
        int typedBox; // 1..3: that box is typed by key instead
        QString typed, inBox;
        QString message;
        Focus focus;
        QString databaseName; // DatabaseName afterwards; empty: unchanged
    } rows[] = {
        {"localhost:", QString(), "P", 0, {}, {}, folderMsg, Folder, {}},
        {"localhost:", "\t\r\n\x01 ", "P", 0, {}, {}, folderMsg, Folder, {}},
        {"localhost:", d, " \x1f\t", 0, {}, {}, nameMsg, Name, {}},
        {"localhost:", d, QString(), 0, {}, {}, nameMsg, Name, {}},
        // Quotes stay inside the file name.
        {"localhost:", d, "it's", 0, {}, {}, {}, None, "IT'S.FDB"},
        {"localhost:", d, "a\"b", 0, {}, {}, {}, None, "A\"B.FDB"},
        // Nothing answers on port 1; a prefix without its colon is a local path that does not exist.
        {"127.0.0.1/1:", d, "P", 0, {}, {}, cannot, Server, "P.FDB"},
        {"localhost", d, "Q", 0, {}, {}, cannot, Server, "Q.FDB"},
        {"localhost:\t", d, "R", 0, {}, {}, cannot, Server, "R.FDB"},
        {"localhost:", d + "missing/", "S", 0, {}, {}, cannot, Server, "S.FDB"},
        {"localhost:", d, longName, 0, {}, {}, cannot, Server, longName + ".FDB"},
        // A name without a CP932 form would be created under substitute bytes: refused.
        {"localhost:", d, QStringLiteral("😀"), 0, {}, {}, cannot, Server, QStringLiteral("😀.FDB")},
        {"localhost:", d + QStringLiteral("𠮷/"), "T", 0, {}, {}, cannot, Server, "T.FDB"},
        {QString(), d, QStringLiteral("😀"), 0, {}, {}, cannot, Server, QStringLiteral("😀.FDB")},
        // Typed, such characters never reach the box.
        {"localhost:", d, {}, 3, QStringLiteral("U😀V"), "UV", {}, None, "UV.FDB"},
        {"localhost:", {}, "W", 2, d + QStringLiteral("𠮷"), d, {}, None, "W.FDB"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "[" << r.server.toStdString() << "][" << r.folder.toStdString()
                                        << "][" << r.name.left(20).toStdString() << "] typed ["
                                        << r.typed.toStdString() << "]");
        const QString before = DatabaseName;
        databaseSettingsDialog->show();
        ASSERT_TRUE(databaseSettingsDialog->isVisible());
        databaseSettingsDialog->Edit1->setText(r.server);
        databaseSettingsDialog->Edit2->setText(r.folder);
        databaseSettingsDialog->Edit3->setText(r.name);
        if (r.typedBox) {
            QLineEdit *box = r.typedBox == 1 ? databaseSettingsDialog->Edit1 : r.typedBox == 2 ? databaseSettingsDialog->Edit2 : databaseSettingsDialog->Edit3;
            TypeInto(box, r.typed);
            EXPECT_EQ(box->text(), r.inBox);
        }
        databaseSettingsDialog->Button1->setFocus();
        messages.messages.clear();
        databaseSettingsDialog->Button1Click();
        EXPECT_EQ(Show(messages.messages), r.message.toStdString());
        EXPECT_EQ(databaseSettingsDialog->isVisible(), !r.message.isEmpty());
        if (r.focus != None) {
            QLineEdit *want = r.focus == Server ? databaseSettingsDialog->Edit1 : r.focus == Folder ? databaseSettingsDialog->Edit2 : databaseSettingsDialog->Edit3;
            EXPECT_EQ(databaseSettingsDialog->focusWidget(), want);
        }
        EXPECT_EQ(DatabaseName, r.databaseName.isEmpty() ? before : r.databaseName);
        // The dialog leaves the connection closed whatever happened.
        EXPECT_FALSE(mainWindow->IsConnected());
        databaseSettingsDialog->hide();
    }
    // Only the names accepted were created, under exactly those names.
    QStringList files = QDir(d).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(Show(files), Show({"A\"B.FDB", "IT'S.FDB", "UV.FDB", "W.FDB"}));
    // An accepted name can be attached again.
    ServerName = "localhost:";
    ServerDataDir = d;
    DatabaseName = "IT'S.FDB";
    mainWindow->ConnectDatabase();
    EXPECT_TRUE(mainWindow->IsConnected());
    mainWindow->DisconnectDatabase();
}

} // namespace
