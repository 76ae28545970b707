// A second process for the stroke journal tests: claims or creates entries and holds them until
// told "exit" on stdin (or until it is killed).
//   JournalHolder claim FOLDER DATABASE        prints "claimed <file>" per entry, then "ready"
//   JournalHolder create FOLDER DATABASE COUNT  prints "created <file>" per entry, then "ready";
//     entry i (imageNo i, 5 points) has points 0 and 1 stored as N=100i+1, 100i+2 and point 2 sent as
//     N=100i+3, all with DN=i, written but never synced.
#include "core/journal/StrokeJournal.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const QString database = QString::fromUtf8(argv[3]);
    std::vector<std::unique_ptr<JournalEntry>> held;
    if (strcmp(argv[1], "claim") == 0) {
        held = JournalEntry::ClaimUnheld(folder, database);
        for (const auto &e : held)
            printf("claimed %s\n", qPrintable(e->FileName()));
    } else if (strcmp(argv[1], "create") == 0 && argc == 5) {
        const int count = std::stoi(argv[4]);
        for (int i = 1; i <= count; ++i) {
            JournalStroke s;
            s.database = database;
            s.imageNo = i;
            s.user = 7;
            for (int p = 0; p < 5; ++p)
                s.points.emplace_back(i, p);
            QString error;
            auto e = JournalEntry::Create(folder, s, &error);
            if (!e) {
                printf("error %s\n", qPrintable(error));
                return 1;
            }
            e->NoteSending(100 * i + 1, i);
            e->NoteStored(100 * i + 1, i);
            e->NoteStored(100 * i + 2, i);
            e->NoteSending(100 * i + 3, i);
            printf("created %s\n", qPrintable(e->FileName()));
            fflush(stdout);
            held.push_back(std::move(e));
        }
    } else {
        return 2;
    }
    printf("ready\n");
    fflush(stdout);
    char line[64];
    while (fgets(line, sizeof line, stdin) && strncmp(line, "exit", 4) != 0) {
    }
    return 0;
}
