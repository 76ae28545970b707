#pragma once
// A database on the local server, the program's windows, the main window attached to it.

#include "ConnectedMainWindow.h"
#include "core/settings/SharedSettings.h"
#include "forms/FormUtil.h"
#include "app/MainWindow.h"

#include <QTableWidget>
#include <gtest/gtest.h>

class RegisterFixture : public ConnectedMainWindow {
protected:
    void Sql(const QString &statement)
    {
        ASSERT_TRUE(mainWindow->Db().ExecuteSql({statement})) << statement.toStdString();
    }

    // Each row of the result as its fields joined by "|".
    QStringList Rows(const QString &list, const QString &table, const QString &order)
    {
        const int columns = int(list.count(QLatin1Char(',')) + 1);
        QStringList rows;
        mainWindow->Db().ForEachRow(list, table, QString(), order, [&](const QStringList &row) {
            rows << row.mid(0, columns).join(QLatin1Char('|'));
        });
        return rows;
    }

    static QStringList GridRows(const QTableWidget *grid)
    {
        QStringList rows;
        for (int r = 1; r < GridRowCount(grid); ++r) {
            QStringList cells;
            for (int c = 0; c < grid->columnCount(); ++c)
                cells << GridCell(grid, c, r);
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    }

    static void SelectGridRow(QTableWidget *grid, int gridRow)
    {
        grid->setCurrentCell(GridRowToTable(gridRow), 0);
    }

    MessageRecorder messages;
};
