#include "PortDrop.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// The cgroup v2 hierarchy's mount point, or empty.
std::string cgroup2Root()
{
    std::ifstream mounts("/proc/mounts");
    std::string dev, dir, type, rest;
    while (mounts >> dev >> dir >> type && std::getline(mounts, rest))
        if (type == "cgroup2")
            return dir;
    return {};
}

bool writeFile(const std::string &path, const std::string &text)
{
    std::ofstream f(path);
    f << text << std::flush;
    return bool(f);
}

int run(const std::string &command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string output(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    return out;
}
} // namespace

PortDrop::PortDrop(const std::string &ports, const std::vector<int> &except, bool refuse)
{
    const std::string root = cgroup2Root();
    if (run("iptables -S OUTPUT") != 0) {
        error_ = "iptables does not work here (not installed, or no right to change the filter)";
        return;
    }
    if (root.empty()) {
        error_ = "no cgroup v2 hierarchy is mounted";
        return;
    }
    const std::string name = std::string(kTag) + "-" + std::to_string(getpid());
    cgroupDir_ = root + "/" + name;
    mkdir(cgroupDir_.c_str(), 0755);
    if (!writeFile(cgroupDir_ + "/cgroup.procs", std::to_string(getpid()))) {
        error_ = "cannot move the process into " + cgroupDir_;
        lift();
        return;
    }
    moved_ = true;
    const std::string match = "OUTPUT -m cgroup --path " + name + " -p tcp --syn -m multiport --dports ";
    const std::string tag = " -m comment --comment " + std::string(kTag);
    std::vector<std::string> rules{match + ports + tag + (refuse ? " -j REJECT --reject-with tcp-reset" : " -j DROP")};
    // Inserted after the drop, so above it.
    for (int port : except)
        rules.push_back(match + std::to_string(port) + tag + " -j ACCEPT");
    for (const std::string &rule : rules) {
        if (run("iptables -I " + rule) != 0) {
            error_ = "iptables refused the rule " + rule;
            lift();
            return;
        }
        rules_.push_back(rule);
    }
    active_ = true;
}

PortDrop::~PortDrop()
{
    lift();
}

void PortDrop::lift()
{
    for (const std::string &rule : rules_)
        run("iptables -D " + rule);
    rules_.clear();
    if (moved_)
        writeFile(cgroup2Root() + "/cgroup.procs", std::to_string(getpid()));
    moved_ = false;
    if (!cgroupDir_.empty())
        rmdir(cgroupDir_.c_str());
    cgroupDir_.clear();
    active_ = false;
}

std::string PortDrop::EventPorts()
{
    std::ifstream conf("/etc/firebird/3.0/firebird.conf");
    std::string line;
    int port = 0;
    while (std::getline(conf, line)) {
        std::istringstream in(line);
        std::string key, eq;
        int value = 0;
        if (in >> key >> eq >> value && key == "RemoteAuxPort" && eq == "=")
            port = value;
    }
    if (port > 0)
        return std::to_string(port);
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 32768, high = 60999;
    range >> low >> high;
    return std::to_string(low) + ":" + std::to_string(high);
}

void PortDrop::RemoveLeftovers()
{
    // Only those of processes that are gone: another program may be testing meanwhile.
    auto gone = [](const std::string &name) {
        const std::string pid = name.substr(name.rfind('-') + 1);
        return access(("/proc/" + pid).c_str(), F_OK) != 0;
    };
    std::istringstream rules(output("iptables -S OUTPUT 2>/dev/null"));
    std::string line;
    while (std::getline(rules, line)) {
        // Tagged with the process: its cgroup's path, or the comment of a rule of its own.
        const auto at = line.find(std::string(kTag) + "-");
        if (line.rfind("-A ", 0) != 0 || at == std::string::npos)
            continue;
        const std::string name = line.substr(at, line.find(' ', at) - at);
        if (gone(name))
            run("iptables -D " + line.substr(3));
    }
    const std::string root = cgroup2Root();
    if (root.empty())
        return;
    // An empty cgroup of a process that is gone; one still in use is left to its owner.
    std::istringstream dirs(output("ls -d " + root + "/" + kTag + "-* 2>/dev/null"));
    while (std::getline(dirs, line))
        if (gone(line))
            rmdir(line.c_str());
}
