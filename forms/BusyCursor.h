#pragma once
// The busy cursor for database work: an hourglass with "SQL" under it.

void BeginBusyCursor();
void EndBusyCursor();

// Shows the busy cursor for its lifetime, whatever path leaves the scope.
class BusyCursor {
public:
    BusyCursor() { BeginBusyCursor(); }
    ~BusyCursor() { EndBusyCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};
