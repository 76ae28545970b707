#pragma once
// The main window: the frame of the child windows, the menu bar, and the owner of the
// program's one connection, which lives on the "main-db" thread (core/connection/MainDb).

#include "forms/MainLink.h"
#include "core/painting/PaintWorker.h"
#include "core/settings/ProgramIcon.h"
#include "core/settings/SettingsFile.h"
#include "core/connection/MainDb.h"
#include "core/catalogue/TableRequests.h"

#include <QMainWindow>
#include <QPointer>

class BackgroundAttach;
class ElidedLabel;
class ConnectionKeeper;
class QComboBox;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QStatusBar;

class MainWindow : public QMainWindow, public MainLink {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    MainDb &Database() override { return *mainDb_; }
    // Tests only, while no request runs (see MainDb::DbForTests).
    DataAccess &Db() { return mainDb_->DbForTests(); }
    bool IsConnected() const override { return mainDb_->IsConnected(); }
    // Both attach on a thread of their own; the window keeps answering (an event loop
    // runs inside) and they return with the outcome.
    void CreateDatabase() override;
    void ConnectDatabase() override;
    void DisconnectDatabase() override;
    bool LastAttachLost() const override { return lastAttachLost_; }
    // Tests only, while no request runs: whether the table is there, looked up at once
    // (the hidden ComboBox1 gets the names); an unreadable list is told.
    bool TableExists(const QString &name);

    // After a lost connection: detach, then reconnect by itself to the database
    // of the stored settings as soon as the server answers again.
    void ConnectionLost();
    bool Reconnecting() const;
    // An attach runs in the background (at the start, after the settings dialog, or
    // in the reconnecting).
    bool Attaching() const;
    // What the status bar says about the connection: empty while all is well.
    QString ConnectionStatusText() const;
    // What it says about points that wait to be stored, by database: empty when none wait.
    QString WaitingStatusText() const;

    // Closes the program without asking about unstored points (they still get
    // one more try). For a close that nobody can answer, e.g. on a signal.
    void CloseWithoutAsking();
    // The user has agreed to exit (or nobody is to be asked): the painting
    // windows let their unstored points go without asking again.
    bool ExitAgreed() const override { return exitAgreed_; }
    PaintWorker &Worker() override { return worker_; }
    // Points that the painting windows hold, could not store yet, and could not put in
    // the journal either: only these are lost by exiting.
    int UnstoredPoints() const;
    // "not safe on disk", with the journal's reason when there is one.
    QString unsafeText() const;

    void LoadSettings(const QString &fileName);
    void SaveSettings(const QString &fileName);

    // Closes the program as its exit command does, but without asking anything
    // (the end of the desktop session).
    void EndSession();

    // The program proper (not the tests): once closed, the window ends the process with
    // EndProcess, without joining the worker or detaching any connection.
    static bool EndProcessAtClose;

    // Shows a child window inside the main window.
    void AddChild(QMdiSubWindow *child) override;
    void setVisible(bool visible) override;
    QMdiArea *MdiArea() const { return mdi_; }
    // In the status bar while 一覧表示's request is on its way.
    static inline const QString ListOpeningText = QStringLiteral("画像一覧を開いています…");

    // Beside the executable; the user's file stands in where nothing can be written there.
    QString SettingFileName;
    QString UserSettingFileName;
    // Tests point the program at a settings file of their own, and at the
    // user's one that stands in when nothing can be written beside it.
    static QString SettingFileOverride;
    static QString UserSettingFileOverride;

    QComboBox *ComboBox1 = nullptr;
    QStatusBar *StatusBar1 = nullptr;

public slots:
    void FormShow();
    void FormClose();
    void mnuDBsetClick();
    void mnuAddTable1Click();
    void mnuAddTable2Click();
    void mnuPCnameSetClick();
    void mnuExitClick();
    void mnuImageNewClick();
    void mnuImageEditClick();
    void mnuImageListClick();

signals:
    // The connection lost earlier is back.
    void Reconnected();

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool event(QEvent *e) override;

private:
    void buildMenu();
    WindowPlacement currentPlacement() const;
    // `then` once the table is there (made when `create`), on the main-db thread meanwhile;
    // a busy cursor on the window while it waits. Otherwise the reason is told.
    // `busy`: a window that shows the busy cursor too until the answer.
    void withTable(ProgramTable table, bool create, std::function<void()> then, QPointer<QWidget> busy = nullptr);
    MainDb *mainDb_ = nullptr;
    // Why the background attach runs: what its outcome leads to.
    enum class AttachFor { Start, Settings, Reconnect, Waiting };
    void attachInBackground(AttachFor why, bool create = false);
    void attachFinished(DataAccess &attached);
    // Runs the attach in the background and an event loop until it ends.
    void attachAndWait(bool create);
    void startReconnecting();
    void showConnectionState();
    // True when connected; says so when a command must wait for an attach in progress.
    bool connectedForCommand();
    BackgroundAttach *attacher_ = nullptr;
    AttachFor attachFor_ = AttachFor::Start;
    ElidedLabel *connectionState_ = nullptr;
    QMdiArea *mdi_ = nullptr;
    bool shown_ = false;
    bool closed_ = false;
    int dismissTries_ = 0;
    bool exitAgreed_ = false;
    ConnectionKeeper *keeper_ = nullptr;
    bool lastAttachLost_ = false;
    PaintWorker worker_;
    // "未保存 N点" by database in the status bar: what the worker holds, and the journal's
    // strokes of other databases, which wait for the program to connect there.
    ElidedLabel *waitingLabel_ = nullptr;
    QMap<QString, int> journalElsewhere_;
    // Orphans the user kept this run, by picture: not waiting (nothing here stores them),
    // shown with where they are and how they go.
    QMap<QPair<QString, int>, int> keptOrphans_;
    void showWaiting();
    void connected();
    void askAboutOrphans(const QString &database, int imageNo, int points, bool remade);
    void reportUnreadable();
    // The outer rectangle the settings file asked for, applied again once the
    // window manager has put its frame around the window (unknown at first show; the
    // first paint may come before it).
    void reapplyOuterOnceFramed();
    // Where a frame asked to be at `outer` goes so that its title bar is on a screen.
    QPoint titleBarOnScreen(const QRect &outer) const;
    // The settings file, read once, before the window first shows.
    void readSettingsOnce();
    bool settingsRead_ = false;
    QRect wantedOuter_;
    QSize sizeSet_; // the inner size given along with wantedOuter_
    bool framingWaited_ = false; // no frame came in time: there is no window manager
};

extern MainWindow *mainWindow;

// The program's title on the task bar.
QString ApplicationTitle();
// Creates the main window and the five dialogs in their order.
void CreateApplicationWindows();
// Deletes what CreateApplicationWindows made (tests).
void DestroyApplicationWindows();
