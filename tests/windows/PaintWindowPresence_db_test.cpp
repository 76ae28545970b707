// Who is here, with real programs: this one and copies of it (each its own process, user
// and attachments) on one picture. Each lists the others by name, the PC user first; a
// third comes and goes; rows that arrive mark their author as drawing; the stroke under
// the pointer is named; the image list counts the people; a drop refused names them;
// and without the server the strip says nothing, then comes back.
#include "PaintFixture.h"
#include "TestDatabase.h"

#include "core/presence/PresenceLine.h"
#include "forms/FormUtil.h"
#include "forms/MainLink.h"
#include "windows/ImageList.h"
#include "windows/OpenPictureMarks.h"
#include "windows/PresencePanel.h"

#include <QDeadlineTimer>
#include <QMdiArea>
#include <QProcess>
#include <QTableWidget>
#include <memory>

namespace {

constexpr int kImage = 1;

// A copy of the program with one painting window on the picture, driven through stdin.
class Program {
public:
    Program(const TestDatabase &db, int user)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), state_.path());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), state_.path());
        p_.setProcessEnvironment(env);
        p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p_.start(QStringLiteral(OEKAKI_PAINT_INSTANCE),
                 {QStringLiteral("localhost:"), db.folder(), db.fileName(), QString::number(user),
                  QString::number(kImage), QStringLiteral("64"), QStringLiteral("48")});
        ready_ = Say(QString()).startsWith(QStringLiteral("ready"));
    }
    ~Program()
    {
        p_.write("quit\n");
        if (!p_.waitForFinished(10000))
            p_.kill();
        p_.waitForFinished(5000);
    }
    bool Ready() const { return ready_; }
    // Sends a line (none when empty); the next line of the answer, empty after 20 s.
    QString Say(const QString &line)
    {
        if (!line.isEmpty())
            p_.write((line + QLatin1Char('\n')).toUtf8());
        QDeadlineTimer deadline(20000);
        while (!p_.canReadLine() && p_.state() != QProcess::NotRunning && !deadline.hasExpired())
            p_.waitForReadyRead(50);
        return p_.canReadLine() ? QString::fromUtf8(p_.readLine()).trimmed() : QString();
    }
    // What its strip shows: the names, then the members drawing.
    QStringList Names() { return Say(QStringLiteral("presence")).split(' ').value(1).split(','); }
    QString Drawing() { return Say(QStringLiteral("presence")).split(' ').value(2); }

private:
    QTemporaryDir state_;
    QProcess p_;
    bool ready_ = false;
};

} // namespace

class PaintWindowPresence : public PaintTest {};

TEST_F(PaintWindowPresence, ProgramsOnOnePictureListEachOtherAndAThirdComesAndGoes)
{
    // Without events the clock reads every 5 s in the copies; here sooner.
    PresenceLine::QuietFallbackMs = 1500;
    ASSERT_TRUE(Db().CreateMemberTable());
    for (const auto &[n, name] : {std::pair{3, "山田"}, {5, "鈴木"}, {6, "佐藤"}})
        ASSERT_TRUE(Db().ExecuteSql({QStringLiteral("INSERT INTO MEMBER (N, SN, PNAME) VALUES (%1, 0, '%2')")
                                         .arg(n)
                                         .arg(QString::fromUtf8(name))}));
    ASSERT_TRUE(Db().CreateImgListTable());
    ASSERT_TRUE(Db().ExecuteSql({QStringLiteral("INSERT INTO IMGLIST (N, MN, INAME, SX, SY) VALUES (%1, 3, '花', 64, 48)")
                                     .arg(kImage)}));
    PaintWindow *w = Open(kImage);
    ASSERT_TRUE(WaitUntil([w] { return w->PresenceStrip->Names() == QStringList{QStringLiteral("山田")}; }))
        << w->PresenceStrip->Text().toStdString();
    EXPECT_TRUE(w->PresenceStrip->isVisible());

    Program suzuki(database, 5);
    ASSERT_TRUE(suzuki.Ready());
    auto names = [w] { return w->PresenceStrip->Names(); };
    const QStringList two{QStringLiteral("山田"), QStringLiteral("鈴木")};
    EXPECT_TRUE(WaitUntil([&] { return names() == two; })) << names().join(',').toStdString();
    // The other program lists this one, itself first.
    const QStringList twoThere{QStringLiteral("鈴木"), QStringLiteral("山田")};
    EXPECT_TRUE(WaitUntil([&] { return suzuki.Names() == twoThere; }));

    {
        // A third comes: everyone lists it, each member once however many windows they have.
        Program sato(database, 6);
        ASSERT_TRUE(sato.Ready());
        PaintWindow *again = Open(kImage);
        EXPECT_TRUE(WaitUntil([&] { return names().size() == 3 && names().first() == QStringLiteral("山田"); }))
            << names().join(',').toStdString();
        EXPECT_TRUE(names().contains(QStringLiteral("佐藤")));
        EXPECT_TRUE(WaitUntil([&] { return sato.Names().size() == 3 && sato.Names().first() == QStringLiteral("佐藤"); }));
        EXPECT_TRUE(WaitUntil([&] { return suzuki.Names().size() == 3; }));
        again->close();

        // The image list counts the people and names them; so does a drop that is refused.
        mainWindow->mnuImageListClick();
        WaitForDbAnswers();
        auto *list = qobject_cast<ImageList *>(mainWindow->MdiArea()->subWindowList().last());
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return OpenPictureMark(list->SG1, 1).startsWith(QStringLiteral("開いている人（3人）：")); }))
            << OpenPictureMark(list->SG1, 1).toStdString();
        list->SG1->setCurrentCell(0, 0);
        WaitForDbAnswers();
        // Refused whatever the windows keep prepared: a view stands on the table.
        ASSERT_TRUE(Db().ExecuteSql({QStringLiteral("CREATE VIEW V1 AS SELECT N FROM IMG_1;")}));
        MessageRecorder rec(true);
        list->Button9Click();
        ASSERT_TRUE(WaitForDbAnswers(40000));
        ASSERT_EQ(rec.messages.size(), 1);
        EXPECT_TRUE(rec.messages[0].startsWith(QStringLiteral("画像データ「花」(N:1)が削除出来ませんでした。\n開いている人（3人）：")))
            << rec.messages[0].toStdString();
        EXPECT_TRUE(rec.messages[0].contains(QStringLiteral("佐藤")));
        list->close();

        // It goes: gone from every list within a few seconds.
        EXPECT_EQ(sato.Say(QStringLiteral("close")), QStringLiteral("closed"));
    }
    EXPECT_TRUE(WaitUntil([&] { return names() == two; })) << names().join(',').toStdString();
    EXPECT_TRUE(WaitUntil([&] { return suzuki.Names() == twoThere; }));

    // Rows arriving mark their author as drawing; the stroke under the pointer is named.
    EXPECT_TRUE(suzuki.Say(QStringLiteral("stroke 10,10 11,10 12,10")).startsWith(QStringLiteral("stroked")));
    EXPECT_TRUE(WaitUntil([w] { return w->PresenceStrip->DrawingNow() == QList<int>{5}; }));
    EXPECT_TRUE(WaitUntil([w] { return w->AuthorAt(11, 10).startsWith(QStringLiteral("描いた人：鈴木（線の番号 DN 1、")); }))
        << w->AuthorAt(11, 10).toStdString();
    EXPECT_EQ(w->AuthorAt(60, 40), QStringLiteral("ここに保存された線はありません"));
    Stroke(w, {{30, 30}, {31, 30}});
    EXPECT_TRUE(WaitUntil([w] { return w->PresenceStrip->DrawingNow().contains(3); }));
    EXPECT_TRUE(WaitUntil([&] { return suzuki.Drawing() == QStringLiteral("3"); }));

    // The server out of reach: the strip says nothing and the window goes on; back, it lists again.
    CloseGate();
    EXPECT_TRUE(WaitUntil([w] { return w->PresenceStrip->isHidden(); }));
    OpenGate();
    EXPECT_TRUE(WaitUntil([&] { return names() == two; }, 30000)) << names().join(',').toStdString();
    PresenceLine::QuietFallbackMs = 5000;
}
