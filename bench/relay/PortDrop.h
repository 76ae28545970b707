#pragma once
// A firewall between this process and the Firebird server's events port: new TCP
// connections from this process (and only this one: other programs on the machine are
// left alone) to the given ports are dropped, for as long as the object lives. The
// process moves into a cgroup of its own, and an iptables rule tagged kTag drops its
// SYNs there. Needs root, iptables and cgroup v2; Error() says what was missing.

#include <string>
#include <vector>

class PortDrop {
public:
    // ports: an iptables --dport, e.g. "3051" or "32768:60999"; except: ports among them
    // left open (a relay of the test's own that listens on one of them); refuse: answer
    // with a reset at once (a firewall that rejects) instead of dropping silently.
    explicit PortDrop(const std::string &ports, const std::vector<int> &except = {}, bool refuse = false);
    ~PortDrop();
    PortDrop(const PortDrop &) = delete;
    PortDrop &operator=(const PortDrop &) = delete;

    bool Active() const { return active_; }
    const std::string &Error() const { return error_; }

    // The server's events port as its configuration sets it (RemoteAuxPort), or the
    // local port range it picks from when that is 0.
    static std::string EventPorts();
    // Removes the rules and cgroups that processes now gone left behind (a crash, a kill).
    static void RemoveLeftovers();
    static constexpr const char *kTag = "oekaki-port-drop";

private:
    void lift();
    std::vector<std::string> rules_;
    std::string cgroupDir_;
    bool active_ = false;
    bool moved_ = false;
    std::string error_;
};
