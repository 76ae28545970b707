// Runs the delay relay by hand, e.g. to draw in the real program over a slow network:
//   oekaki_delay_relay <round trip in ms, decimals allowed> [listen port] [server port] [half-open]
// then set the server name to "localhost/<listen port>:". Ends on Ctrl+C or SIGTERM.
// SIGUSR1 pauses it (nothing passed on either way, nothing closed: a silent network),
// SIGUSR2 resumes it: kill -USR1 <pid>. With "half-open", every connection passes the
// server's first reply and then goes silent (a server that hangs inside an attach).
#include "DelayRelay.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
void usage(std::FILE *to, const char *self)
{
    std::fprintf(to,
                 "usage: %s <round trip ms> [listen port] [server port] [half-open]\n"
                 "  SIGUSR1 pauses forwarding in both directions (nothing is closed),\n"
                 "  SIGUSR2 resumes it; SIGINT, SIGTERM or SIGHUP end the relay.\n"
                 "  half-open: each connection passes the server's first reply, then goes silent.\n",
                 self);
}

// A whole number or decimal, nothing else: "--help" or a typo must not start a relay.
bool isNumber(const char *text)
{
    char *end = nullptr;
    std::strtod(text, &end);
    return end != text && *end == '\0';
}
} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout, argv[0]);
            return 0;
        }
    }
    if (argc < 2 || argc > 5 || !isNumber(argv[1]) || (argc > 2 && !isNumber(argv[2]))
        || (argc > 3 && !isNumber(argv[3])) || (argc > 4 && std::string(argv[4]) != "half-open")) {
        usage(stderr, argv[0]);
        return 2;
    }
    const double roundTripMs = std::atof(argv[1]);
    const int listenPort = argc > 2 ? std::atoi(argv[2]) : 0;
    const int serverPort = argc > 3 ? std::atoi(argv[3]) : 3050;
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigaddset(&stopSignals, SIGUSR1);
    sigaddset(&stopSignals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr); // the relay thread inherits the mask
    DelayRelay relay;
    relay.setHalfOpen(argc > 4 && std::string(argv[4]) == "half-open");
    if (!relay.start(static_cast<int>(roundTripMs * 500.0), serverPort, listenPort)) {
        std::perror("relay");
        return 1;
    }
    std::printf("127.0.0.1:%d -> 127.0.0.1:%d, %.3f ms round trip; server name localhost/%d:\n",
                relay.port(), serverPort, roundTripMs, relay.port());
    std::fflush(stdout);
    int sig = 0;
    for (;;) {
        sigwait(&stopSignals, &sig);
        if (sig == SIGUSR1) {
            relay.pause();
            std::printf("paused\n");
        } else if (sig == SIGUSR2) {
            relay.resume();
            std::printf("resumed\n");
        } else {
            break;
        }
        std::fflush(stdout);
    }
    relay.stop();
    std::printf("%lld client round trips, held bytes late by %.0f us on average, %lld us at worst\n",
                static_cast<long long>(relay.roundTrips()), relay.meanLateMicroseconds(),
                static_cast<long long>(relay.worstLateMicroseconds()));
    return 0;
}
