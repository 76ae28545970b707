#pragma once
// A database as the user set it up, for status texts: its file name and its server,
// not the raw path the client library is given.

#include <QString>

// "PAINT.FDB（localhost）" for "localhost:/var/lib/oekaki/data/PAINT.FDB",
// "PAINT.FDB（192.168.0.10/3051）" for a server with a port, and
// "PAINT.FDB（このPC）" for a file opened directly, without a server.
QString DatabaseLabel(const QString &path);
