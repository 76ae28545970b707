#pragma once
// The strip above a painting window's picture that names who has the picture open now, on
// any PC: the PC user of the window first, each member once, and those drawing at this
// moment (rows of theirs arrived in the last few seconds) marked with a pen. It says
// nothing, and takes no room, while nobody is known.

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QWidget>

class QTimer;

class PresencePanel : public QWidget {
    Q_OBJECT
public:
    explicit PresencePanel(QWidget *parent = nullptr);

    // The members in the order shown, with their names; none: the strip hides.
    void SetMembers(const QList<int> &members, const QHash<int, QString> &names);
    // While held, the strip keeps its place (shown or not) whatever SetMembers says: a
    // canvas that moves under a held stroke would draw the rest of it elsewhere.
    void HoldPlace(bool held);
    // Rows of this member arrived now (or the PC user draws here).
    void NoteDrawing(int member);

    // What it shows: the names in order, and of those, the members drawing now.
    QStringList Names() const;
    QList<int> Members() const { return members_; }
    QList<int> DrawingNow() const;
    // The whole text, as its tool tip carries it (with a word on Ctrl over the picture).
    QString Text() const;

    // A member counts as drawing this long after their last row.
    static constexpr int DrawingMs = 3000;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    bool drawing(int member) const;
    void update_();

    QList<int> members_;
    QHash<int, QString> names_;
    QHash<int, qint64> lastRow_; // member -> on clock_
    QElapsedTimer clock_;
    QTimer *expire_ = nullptr;
    bool held_ = false;
};
