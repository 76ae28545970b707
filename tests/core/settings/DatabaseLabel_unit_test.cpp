// The database named for the status bars: file name and server, never the raw path.
#include "core/settings/DatabaseLabel.h"

#include <gtest/gtest.h>

namespace {

struct LabelCase {
    const char *path;
    const char *label;
};

const LabelCase kLabels[] = {
    {"localhost:/var/lib/oekaki/data/PAINT.FDB", "PAINT.FDB（localhost）"},
    {"192.168.0.10:/srv/fb/TEAM.FDB", "TEAM.FDB（192.168.0.10）"},
    {"localhost/3052:/tmp/xv/data/PAINT.FDB", "PAINT.FDB（localhost/3052）"},
    {"server:C:\\data\\PAINT.FDB", "PAINT.FDB（server）"},
    {"[::1]:/var/data/V6.FDB", "V6.FDB（[::1]）"},
    {"C:\\data\\LOCAL.FDB", "LOCAL.FDB（このPC）"},
    {"/var/lib/oekaki/data/LOCAL.FDB", "LOCAL.FDB（このPC）"},
    {"/odd:folder/LOCAL.FDB", "LOCAL.FDB（このPC）"},
    {"localhost:PAINT.FDB", "PAINT.FDB（localhost）"},
    {"localhost:/data/絵.FDB", "絵.FDB（localhost）"},
};

TEST(DatabaseLabel, NamesFileAndServer)
{
    for (const LabelCase &c : kLabels)
        EXPECT_EQ(DatabaseLabel(QString::fromUtf8(c.path)), QString::fromUtf8(c.label)) << c.path;
}

} // namespace
