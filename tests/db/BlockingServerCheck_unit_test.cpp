#include "db/BlockingServerCheck.h"

#include <gtest/gtest.h>

namespace {

TEST(RemoteServerOf, ServerPrefixesAndLocalPaths)
{
    struct Case {
        const char *path;
        bool remote;
        const char *host;
        const char *port;
    } cases[] = {
        {"localhost:/srv/db/PAINT.FDB", true, "localhost", "3050"},
        {"localhost:C:\\data\\PAINT.FDB", true, "localhost", "3050"},
        {"127.0.0.1/3051:/srv/PAINT.FDB", true, "127.0.0.1", "3051"},
        {"server/gds_db:/x.fdb", true, "server", "gds_db"},
        {"[::1]/3050:/x.fdb", true, "::1", "3050"},
        {"host/:/x.fdb", true, "host", "3050"},
        {"inet://db.local:3052//srv/x.fdb", true, "db.local", "3052"},
        {"INET4://10.1.2.3/x.fdb", true, "10.1.2.3", "3050"},
        {"inet6://[::1]:3055/x.fdb", true, "::1", "3055"},
        {"C:\\data\\PAINT.FDB", false, "", ""},
        {"/srv/db/PAINT.FDB", false, "", ""},
        {"/srv/a:b.fdb", false, "", ""},
        {"./a:b.fdb", false, "", ""},
        {"PAINT.FDB", false, "", ""},
        {":PAINT.FDB", false, "", ""},
        {"", false, "", ""},
        {"inet://", false, "", ""},
    };
    for (const Case &c : cases) {
        QByteArray host, port;
        EXPECT_EQ(isc::RemoteServerOf(c.path, host, port), c.remote) << c.path;
        if (c.remote) {
            EXPECT_EQ(host, QByteArray(c.host)) << c.path;
            EXPECT_EQ(port, QByteArray(c.port)) << c.path;
        }
    }
}

TEST(ServerAnswers, LocalPathsPassRefusalsFail)
{
    // Nothing to ask for a local file.
    EXPECT_TRUE(isc::ServerAnswers("/tmp/none.fdb", 10));
    EXPECT_TRUE(isc::ServerAnswers("C:\\data\\none.fdb", 10));
    // A closed port or an unknown host cannot take a CREATE DATABASE either.
    EXPECT_FALSE(isc::ServerAnswers("127.0.0.1/1:/tmp/none.fdb", 10));
    EXPECT_FALSE(isc::ServerAnswers("no-such-host.invalid:/tmp/none.fdb", 10));
}

} // namespace
