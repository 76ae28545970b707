#include "TestDatabase.h"

#include "forms/MessageBoxes.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <pwd.h>

TempServerDir::TempServerDir()
{
    char tmpl[] = "/tmp/oekaki-test-XXXXXX";
    const char *made = mkdtemp(tmpl);
    path_ = QString::fromLocal8Bit(made ? made : "/tmp") + QLatin1Char('/');
    if (made) {
        // The server runs as its own user and must be able to create files here.
        if (const passwd *pw = getpwnam("firebird"))
            (void)!chown(made, pw->pw_uid, pw->pw_gid);
        chmod(made, 0777);
    }
}

TempServerDir::~TempServerDir()
{
    if (path_.startsWith(QStringLiteral("/tmp/oekaki-test-")))
        QDir(path_).removeRecursively();
}

TestDatabase::TestDatabase(const QString &fileName) : fileName_(fileName)
{
    DataAccess db;
    db.CreateDatabase(serverPath());
    created_ = db.IsConnected();
    db.DisconnectDatabase();
}

TestDatabase::~TestDatabase() = default;

MessageRecorder::MessageRecorder(bool confirmAnswer) : answer(confirmAnswer)
{
    MessageHook = [this](const QString &text) { messages << text; };
    ConfirmHook = [this](const QString &text) {
        confirmations << text;
        return answer;
    };
}

MessageRecorder::~MessageRecorder()
{
    MessageHook = nullptr;
    ConfirmHook = nullptr;
}

QString RunIsql(const QString &serverPath, const QByteArray &script)
{
    // Given as a file: isql's line editor garbles non-ASCII bytes read from a pipe.
    QTemporaryFile file;
    if (!file.open() || file.write(script) != script.size() || !file.flush())
        return QString();
    QProcess p;
    p.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-user"),
                                        QString::fromLatin1(DataAccess::User),
                                        QStringLiteral("-password"),
                                        QString::fromLatin1(DataAccess::Password), QStringLiteral("-i"),
                                        file.fileName(), serverPath});
    if (!p.waitForStarted(10000))
        return QString();
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
}

int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}
