#pragma once
// A fresh folder the local Firebird server can write to, and a database in it.
// Each test gets its own; everything is removed afterwards.

#include "db/DataAccess.h"

#include <QString>
#include <QStringList>
#include <functional>

class TempServerDir {
public:
    TempServerDir();
    ~TempServerDir();
    // With a trailing "/", as ServerDataDir holds it.
    QString path() const { return path_; }

private:
    QString path_;
};

// A new empty database on the local server ("localhost:" + folder + name).
class TestDatabase {
public:
    explicit TestDatabase(const QString &fileName = QStringLiteral("TEST.FDB"));
    ~TestDatabase();
    QString serverPath() const { return QStringLiteral("localhost:") + dir_.path() + fileName_; }
    // The same database reached through a port on 127.0.0.1 (a relay's).
    QString pathVia(int port) const { return QStringLiteral("127.0.0.1/%1:").arg(port) + dir_.path() + fileName_; }
    QString folder() const { return dir_.path(); }
    QString fileName() const { return fileName_; }
    bool created() const { return created_; }

private:
    TempServerDir dir_;
    QString fileName_;
    bool created_ = false;
};

// Records every message and answers every confirmation, for the life of the object.
class MessageRecorder {
public:
    explicit MessageRecorder(bool confirmAnswer = true);
    ~MessageRecorder();
    QStringList messages;
    QStringList confirmations;
    bool answer;
};

// A port on 127.0.0.1 with nobody listening (bound, then released).
int ClosedPort();

// Runs isql-fb against a database with the fixed account; returns its output.
QString RunIsql(const QString &serverPath, const QByteArray &script);
