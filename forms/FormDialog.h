#pragma once
// The common frame of the program's modal dialogs: created once, shown with exec(),
// fixed size, the program font; FormShow on every showing, FormClose on every closing.

#include <QDialog>

class FormDialog : public QDialog {
    Q_OBJECT
public:
    FormDialog(const QString &caption, int clientWidth, int clientHeight, int left, int top,
               QWidget *parent = nullptr);

    // True once FormShow has asked the dialog to close (it closes as soon as exec runs).
    bool closedFromShow() const { return closedFromShow_; }
    // Lives from a showing to its closing: database answers go to it, so that a closed
    // dialog gets none of those asked while it was open.
    QObject *Showing() const { return showing_; }

    // Each showing opens the dialog over the middle of the main window (wholly on its
    // screen), wherever the settings file or the last showing had put it.
    void setVisible(bool visible) override;

public slots:
    virtual void FormShow() {}
    virtual void FormClose() {}

protected:
    // A dialog cannot close inside its own show event; this closes it right after.
    void CloseFromShow();
    // For dialogs that work on the database: without settings or a connection,
    // says so, closes the dialog and returns false.
    bool DatabaseReadyOrClose();
    // Enter and Esc press no button (and do not close the dialog).
    void SetNoKeyButtons() { noKeyButtons_ = true; }
    void keyPressEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void done(int r) override;

private:
    void centreOnMainWindow();
    bool closedFromShow_ = false;
    bool noKeyButtons_ = false;
    QObject *showing_ = nullptr;
};
