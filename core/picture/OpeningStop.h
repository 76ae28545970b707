#pragma once
// Ends an opening from any thread: every attachment that reads for it has its call in
// progress cut at once (the server's own cancel), and the opening and its readers look at
// Stopped() between rows, so none of them stays inside the client library for it.
//
// Threads: Stop and Stopped from any thread; an attachment is watched by the thread that
// uses it, from before its first call until it is closed (Watching does both).

#include <atomic>
#include <mutex>
#include <vector>

class DataAccess;

// The calling thread gives way to the program's other threads (the stores) when the two
// cores are short: an opening is a long read, a stroke should not wait behind it.
void GiveWayToStores();

class OpeningStop {
public:
    void Stop();
    bool Stopped() const { return stopped_.load(); }

    // Watches `db` while it lives: Stop cuts its call in progress.
    class Watching {
    public:
        Watching(OpeningStop *stop, DataAccess &db);
        ~Watching();
        Watching(const Watching &) = delete;
        Watching &operator=(const Watching &) = delete;

    private:
        OpeningStop *stop_;
        DataAccess &db_;
    };

private:
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::vector<DataAccess *> watched_;
};
