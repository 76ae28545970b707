#include "app/EndProcess.h"

#include <cstdio>
#include <unistd.h>

static std::function<void(int)> &journalHandOff()
{
    static auto *handOff = new std::function<void(int)>;
    return *handOff;
}

void SetJournalHandOff(std::function<void(int rc)> handOff)
{
    journalHandOff() = std::move(handOff);
}

void EndProcessNow(int rc)
{
    std::fflush(nullptr);
    _exit(rc);
}

void EndProcess(int rc)
{
    // Its default action ends the process: nothing may keep it past this.
    alarm(EndProcessLastResortSeconds);
    std::function<void(int)> handOff = journalHandOff();
    if (!handOff)
        EndProcessNow(rc);
    handOff(rc);
    // The journal's thread ends the process; this thread does nothing more meanwhile.
    for (;;)
        pause();
}
