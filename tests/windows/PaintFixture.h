#pragma once
// The real main window on a fresh database, with painting windows opened on it
// the way the image list opens them.

#include "ConnectedMainWindow.h"
#include "DbAnswers.h"
#include "app/MainWindow.h"
#include "core/settings/SharedSettings.h"
#include "core/picture/Stamp.h"
#include "windows/PaintWindow.h"
#include "windows/PenTipDialog.h"
#include "relay/DelayRelay.h"

#include <QCoreApplication>
#include <QMdiArea>
#include <QThread>
#include <QMdiSubWindow>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

struct StoredPoint {
    int n, mn, dn, ptyp, psiz, pcol, x, y;
};

class PaintTest : public ConnectedMainWindow {
protected:
    PaintTest() : ConnectedMainWindow(true) {}

    void SetUp() override
    {
        ConnectedMainWindow::SetUp();
        PcUserNo = 3;
        PaintWidth = 420;
        PaintHeight = 320;
        PenType = 2;
        PenSize = 3;
        PenColor = 0x0000FF;
        SaveDir.clear();
        // The program reaches the server through a gate that a test can close (every
        // connection cut, nothing answered) and open again on the same port.
        ASSERT_TRUE(gate_.start(0));
        gatePort_ = gate_.port();
        mainWindow->DisconnectDatabase();
        ServerName = QStringLiteral("localhost/%1:").arg(gatePort_);
        mainWindow->ConnectDatabase();
        ASSERT_TRUE(mainWindow->IsConnected());
        // Taken over on the main-db thread before the test reads through it.
        ASSERT_TRUE(WaitForDbAnswers());
    }

    void TearDown() override
    {
        ConnectedMainWindow::TearDown();
        gate_.stop();
    }

    // The server goes away for this program, and comes back.
    void CloseGate() { gate_.stop(); }
    void OpenGate()
    {
        ASSERT_TRUE(gate_.start(0, 3050, gatePort_));
        // The main window's own connection died with the gate; the test reads through it.
        mainWindow->DisconnectDatabase();
        mainWindow->ConnectDatabase();
        ASSERT_TRUE(mainWindow->IsConnected());
        ASSERT_TRUE(WaitForDbAnswers());
    }

    // Processes events until `done` holds; false after `ms`.
    static bool WaitUntil(const std::function<bool()> &done, int ms = 15000)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            QThread::msleep(5);
        }
        return true;
    }

    // Refreshes until the window holds no unstored point (the worker reconnects by itself).
    static bool StoredOnceBack(PaintWindow *w, int ms = 15000)
    {
        return WaitUntil([w] {
            Tick(w);
            return w->UnstoredPoints() == 0;
        }, ms);
    }

    static DataAccess &Db() { return mainWindow->Db(); }

    template <class Window = PaintWindow>
    static Window *Open(int imageNo, int width = 64, int height = 48)
    {
        CurrentImageNo = imageNo;
        CurrentImageWidth = width;
        CurrentImageHeight = height;
        auto *w = new Window;
        w->setWindowTitle(QStringLiteral("画像 ") + QString::number(imageNo));
        mainWindow->AddChild(w);
        EXPECT_TRUE(w->WaitIdle()) << "the picture was not drawn in time";
        return w;
    }

    // A stroke through the window's handlers: press at the first point, a move to
    // each further point, release of the left button.
    static void Stroke(PaintWindow *w, const std::vector<QPoint> &points, int type = -1, int size = -1,
                       int color = -1)
    {
        Press(w, points, type, size, color);
        Release(w);
    }

    // The first part of Stroke: the button is still held at the last point.
    static void Press(PaintWindow *w, const std::vector<QPoint> &points, int type = -1, int size = -1,
                      int color = -1)
    {
        if (w->DrawMode == 0)
            w->SpeedButton4Click();
        if (type >= 0)
            w->CurPenType = type;
        if (size >= 0)
            w->CurPenSize = size;
        if (color >= 0)
            w->CurPenColor = color;
        w->Image1MouseDown(Qt::LeftButton, Qt::LeftButton, points[0].x(), points[0].y());
        for (size_t i = 1; i < points.size(); ++i)
            w->Image1MouseMove(Qt::LeftButton, points[i].x(), points[i].y());
    }

    static void Release(PaintWindow *w)
    {
        w->Image1MouseUp(Qt::LeftButton, Qt::NoButton, w->LastX, w->LastY);
        EXPECT_TRUE(w->WaitIdle()) << "the stroke was not stored in time";
    }

    // The table replayed in N order on a white picture, as an opening draws it.
    static QImage Replay(const QString &table, QSize size)
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(Qt::white);
        for (const StoredPoint &p : Rows(table))
            DrawStamp(img, p.ptyp, p.psiz, p.pcol, p.x, p.y);
        return img;
    }

    static int DifferingPixels(const QImage &a, const QImage &b)
    {
        if (a.size() != b.size())
            return a.width() * a.height() + b.width() * b.height();
        int count = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                count += a.pixel(x, y) != b.pixel(x, y);
        return count;
    }

    // The 5-second refresh, and what it brings drawn.
    static void Tick(PaintWindow *w)
    {
        w->Timer1Timer();
        EXPECT_TRUE(w->WaitIdle()) << "the refresh did not end in time";
    }

    // The stored rows, once the painting windows' worker has done what it was asked.
    static std::vector<StoredPoint> Rows(const QString &table, DataAccess &db = Db())
    {
        EXPECT_TRUE(mainWindow->Worker().WaitIdle()) << "the painting worker did not finish in time";
        // A reconnect hands the attachment to the main-db thread later; read after it.
        EXPECT_TRUE(WaitForDbAnswers());
        std::vector<StoredPoint> out;
        const int n = db.SelectOrdered(QStringLiteral("*"), table, QString(), QStringLiteral("N"));
        QStringList r(8);
        for (int i = 0; i < n; ++i) {
            if (i == 0)
                db.FetchFirst(r);
            else
                db.FetchNext(r);
            out.push_back({r[0].toInt(), r[1].toInt(), r[2].toInt(), r[3].toInt(), r[4].toInt(),
                           r[5].toInt(), r[6].toInt(), r[7].toInt()});
        }
        db.CloseQuery();
        return out;
    }

    static bool InsertPoint(DataAccess &db, const QString &table, int n, int mn, int dn, int type,
                            int size, int color, int x, int y)
    {
        return db.InsertRecord(table, 8, {"N", "MN", "DN", "PTYP", "PSIZ", "PCOL", "X", "Y"},
                               {QString::number(n), QString::number(mn), QString::number(dn),
                                QString::number(type), QString::number(size),
                                QString::number(color), QString::number(x), QString::number(y)});
    }

    static bool IsWhite(const QImage &img)
    {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != qRgb(255, 255, 255))
                    return false;
        return true;
    }

    TestDatabase &db_ = database;
    DelayRelay gate_;
    int gatePort_ = 0;
};
