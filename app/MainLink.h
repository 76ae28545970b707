#pragma once
// What the windows ask of the main window, which owns the one connection. The main
// window registers itself; the windows reach it only through this, never its header.

class DataAccess;
class QMdiSubWindow;
class QString;

class MainLink {
public:
    // The shared connection and its operations; every window goes through it.
    virtual DataAccess &Db() = 0;
    virtual bool IsConnected() const = 0;
    // Also lists the table names into the main window's hidden list.
    virtual bool TableExists(const QString &name) = 0;
    // Connection with the path made of the three settings.
    virtual void CreateDatabase() = 0;
    virtual void ConnectDatabase() = 0;
    virtual void DisconnectDatabase() = 0;
    // Shows a child window inside the main window.
    virtual void AddChild(QMdiSubWindow *child) = 0;

protected:
    ~MainLink() = default;
};

// The main window, or null while there is none.
MainLink *MainWindow();
void SetMainWindow(MainLink *link);
