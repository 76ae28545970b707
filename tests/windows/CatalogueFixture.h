#pragma once
// The real main window connected to a fresh database, with a member as PC user.

#include "ConnectedMainWindow.h"
#include "app/MainWindow.h"
#include "core/settings/SharedSettings.h"
#include "windows/ImageRecordEditor.h"
#include "windows/ImageList.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class CatalogueTest : public ConnectedMainWindow {
protected:
    CatalogueTest() : ConnectedMainWindow(true) {}

    void SetUp() override
    {
        ConnectedMainWindow::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(Db().CreateImgListTable());
        ASSERT_TRUE(Db().CreateMemberTable());
        AddMember(3, QStringLiteral("山田花子"));
        AddMember(5, QStringLiteral("佐藤"));
        PcUserNo = 3;
        PcUserName = QStringLiteral("山田花子");
    }

    static DataAccess &Db() { return mainWindow->Db(); }

    static void AddMember(int n, const QString &name)
    {
        ASSERT_TRUE(Db().InsertRecord(QStringLiteral("MEMBER"), 3, {"N", "SN", "PNAME"},
                                      {QString::number(n), "0", "'" + name + "'"}));
    }

    // An IMGLIST row; empty texts become NULL.
    static void AddImage(int n, const QString &name, const QString &memo1 = QString(), int sx = 320,
                         int sy = 240, const QString &date1 = QString(), const QString &date2 = QString(),
                         int mn = 3)
    {
        auto q = [](QString t) {
            return t.isEmpty() ? QStringLiteral("NULL") : "'" + t.replace("'", "''") + "'";
        };
        ASSERT_TRUE(Db().InsertRecord(
            QStringLiteral("IMGLIST"), 10,
            {"N", "MN", "INAME", "MEMO1", "MEMO2", "MEMO3", "SX", "SY", "DATE1", "DATE2"},
            {QString::number(n), QString::number(mn), q(name), q(memo1), "NULL", "NULL",
             QString::number(sx), QString::number(sy), q(date1), q(date2)}));
    }

    // The stored row n in table order; empty list when missing.
    static QStringList StoredImage(int n)
    {
        QStringList row(10);
        if (Db().SelectFields(QStringLiteral("*"), QStringLiteral("IMGLIST"),
                              QStringLiteral("N=") + QString::number(n), row) <= 0)
            return {};
        return row;
    }

    static int CountWhere(const QString &condition)
    {
        return Db().SelectOrdered(QStringLiteral("*"), QStringLiteral("IMGLIST"), condition, QString());
    }

    static QList<QMdiSubWindow *> Children() { return mainWindow->MdiArea()->subWindowList(); }

    template <class T>
    static T *LastChild()
    {
        const auto subs = Children();
        return subs.isEmpty() ? nullptr : qobject_cast<T *>(subs.last());
    }

    TestDatabase &db_ = database;
};
