#pragma once
// The common frame of the child windows inside the main window: created per
// command, FormShow when first shown, FormClose when closed, freed on closing.

#include <QMdiSubWindow>

class ChildForm : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit ChildForm(QWidget *parent = nullptr);

    // The area the window's controls are laid on (the sub-window's widget).
    QWidget *client() const { return client_; }

public slots:
    virtual void FormShow() {}
    virtual void FormClose() {}

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    QWidget *client_;
    bool shown_ = false;
};
