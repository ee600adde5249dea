#include "tests/reliability/proc_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/test_env.h"

namespace kelvara::test {

namespace {

// The numeric entries of a /proc folder.
std::vector<long> numeric_entries(const std::string& folder)
{
    std::vector<long> numbers;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return numbers;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long number = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0')
            numbers.push_back(number);
    }
    ::closedir(dir);
    return numbers;
}

// The parent in /proc/<pid>/stat; the name in parentheses may hold anything,
// so the fields are counted from its closing parenthesis.
pid_t parent_of(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    pid_t parent = -1;
    fields >> state >> parent;
    return fields ? parent : -1;
}

}  // namespace

std::optional<MemoryFigures> process_memory(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    MemoryFigures figures;
    bool rss = false;
    bool peak = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::sscanf(line.c_str(), "VmRSS: %ld", &figures.rss_kib) == 1;
        else if (line.rfind("VmHWM:", 0) == 0)
            peak = std::sscanf(line.c_str(), "VmHWM: %ld", &figures.peak_kib) == 1;
    }
    if (!rss || !peak)
        return std::nullopt;
    return figures;
}

int open_descriptor_count(pid_t pid)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    if (::access(folder.c_str(), R_OK) != 0)
        return -1;
    return static_cast<int>(numeric_entries(folder).size());
}

std::optional<UdpSocketFigures> udp_socket_on_port(int port)
{
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);  // the column titles
    while (std::getline(in, line)) {
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, ref, pointer;
        UdpSocketFigures figures;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
            figures.inode >> ref >> pointer >> figures.drops;
        const std::size_t colon = local.find(':');
        if (!fields || colon == std::string::npos)
            continue;
        if (std::strtol(local.c_str() + colon + 1, nullptr, 16) != port)
            continue;
        const std::size_t split = queues.find(':');
        if (split == std::string::npos)
            continue;
        figures.queued_bytes = std::strtol(queues.c_str() + split + 1, nullptr, 16);
        return figures;
    }
    return std::nullopt;
}

pid_t child_with_socket(unsigned long inode)
{
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    for (long pid : numeric_entries("/proc")) {
        if (parent_of(static_cast<pid_t>(pid)) != ::getpid())
            continue;
        const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
        for (long fd : numeric_entries(folder)) {
            char target[256];
            const std::string link = folder + "/" + std::to_string(fd);
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == wanted)
                return static_cast<pid_t>(pid);
        }
    }
    return -1;
}

std::vector<pid_t> sim_port_lock_holders()
{
    // Inodes only: on layered file systems stat and /proc/locks may name
    // different devices for the same file.
    std::vector<unsigned long> inodes;
    const std::string folder = temp_dir();
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            struct stat info{};
            if (name.rfind("kelvara-sim-", 0) == 0 && ::stat((folder + "/" + name).c_str(), &info) == 0)
                inodes.push_back(static_cast<unsigned long>(info.st_ino));
        }
        ::closedir(dir);
    }

    std::vector<pid_t> holders;
    std::ifstream in("/proc/locks");
    for (std::string line; std::getline(in, line);) {
        // "1: FLOCK  ADVISORY  WRITE 4711 fe:00:123456 0 EOF"; waiters carry "->".
        std::istringstream fields(line);
        std::string number, kind, mode, access, key;
        pid_t pid = -1;
        fields >> number >> kind >> mode >> access >> pid >> key;
        const std::size_t colon = key.rfind(':');
        if (!fields || kind != "FLOCK" || colon == std::string::npos)
            continue;
        const unsigned long inode = std::strtoul(key.c_str() + colon + 1, nullptr, 10);
        for (unsigned long file : inodes) {
            if (inode == file)
                holders.push_back(pid);
        }
    }
    return holders;
}

}  // namespace kelvara::test
