// Who is here: the strip of those who have the picture open (from the database's presence
// reads) and who among them draws now (from the rows that arrive), and who drew a stroke.
#include "windows/PaintWindow.h"

#include "core/painting/PaintWorker.h"
#include "core/presence/PresenceBoard.h"
#include "core/settings/SharedSettings.h"
#include "windows/PresencePanel.h"

#include <QToolTip>

void PaintWindow::connectPresence()
{
    user_ = PcUserNo;
    PresenceBoard &board = worker_->Presence();
    connect(&board, &PresenceBoard::Changed, this, [this](const QString &database) {
        if (database == database_)
            showPresence();
    });
    connect(&board, &PresenceBoard::NamesChanged, this, [this](const QString &database) {
        if (database != database_)
            return;
        showPresence();
        // The name of the author asked for came.
        if (authorAsked_.x() >= 0 && QToolTip::isVisible())
            showAuthor(authorAsked_.x(), authorAsked_.y());
    });
    // Rows arriving after the opening are someone drawing now (this window's own too).
    connect(worker_, &PaintWorker::Rows, this, [this](int id, const QVector<StrokeRow> &rows) {
        if (id != session_ || !loaded_)
            return;
        int last = 0;
        for (const StrokeRow &r : rows)
            if (r.n > 0 && r.mn != last)
                PresenceStrip->NoteDrawing(last = r.mn);
    });
    board.Show(database_, ImageNo, user_);
    showPresence();
}

void PaintWindow::showPresence()
{
    if (!worker_)
        return;
    const PresenceRoster roster = worker_->Presence().RosterOf(database_);
    // A read that failed (or none yet) says nothing.
    if (!roster.ok) {
        PresenceStrip->SetMembers({}, {});
        return;
    }
    const QHash<int, QString> names = worker_->Presence().NamesOf(database_);
    PresenceStrip->SetMembers(ShownOrder(roster.MembersOf(ImageNo), user_, names), names);
}

QString PaintWindow::AuthorAt(int x, int y)
{
    const std::optional<PictureReplay::Author> author = picture_.StrokeAt({x, y});
    if (!author)
        return QStringLiteral("ここに保存された線はありません");
    QHash<int, QString> names;
    if (worker_) {
        names = worker_->Presence().NamesOf(database_);
        if (!names.contains(author->mn))
            worker_->Presence().AskNames(database_, {author->mn});
    }
    return QStringLiteral("描いた人：%1（線の番号 DN %2、N %3）")
        .arg(MemberLabel(author->mn, names))
        .arg(author->dn)
        .arg(author->n);
}

void PaintWindow::showAuthor(int x, int y)
{
    authorAsked_ = {x, y};
    QToolTip::showText(Image1->mapToGlobal(QPoint(x, y) + QPoint(12, 12)), AuthorAt(x, y), Image1);
}
