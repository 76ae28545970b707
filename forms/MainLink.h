#pragma once
// What the windows ask of the main window, which owns the one connection. The main
// window registers itself; the windows reach it only through this, never its header.

#include <functional>

class MainDb;
class PaintWorker;
class QMdiSubWindow;
class QObject;
class QString;

class MainLink {
public:
    // The shared connection, on the main-db thread: windows ask it and get answers back.
    virtual MainDb &Database() = 0;
    virtual bool IsConnected() const = 0;
    // Connection with the path made of the three settings.
    virtual void CreateDatabase() = 0;
    virtual void ConnectDatabase() = 0;
    virtual void DisconnectDatabase() = 0;
    // The last attach or creation got no answer (server unreachable, or given up at its
    // deadline): another one right after would fare no better.
    virtual bool LastAttachLost() const = 0;
    // The painting windows' database worker (one per program).
    virtual PaintWorker &Worker() = 0;
    // Shows a child window inside the main window.
    virtual void AddChild(QMdiSubWindow *child) = 0;
    // The user has agreed to exit (or nobody is to be asked).
    virtual bool ExitAgreed() const = 0;

protected:
    ~MainLink() = default;
};

// The main window, or null while there is none.
MainLink *MainWindowLink();
void SetMainWindowLink(MainLink *link);
