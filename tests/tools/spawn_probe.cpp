// Stands in for a program the run dialog starts, and for the desktop's opener: writes down its
// arguments, its pid, its signal state and where each of its descriptors leads, into the file
// named by its own path with ".out" added (tests/linux/test_shell.cpp reads it). A compiled
// program, because a shell clears the blocked-signal mask before a script could read it.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    std::string report = "args";
    for (int i = 1; i < argc; ++i)
        report += ' ' + std::string(argv[i]);
    report += "\npid " + std::to_string(::getpid()) + '\n';

    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigIgn:") || line.starts_with("SigBlk:"))
            report += line + '\n';
    status.close();

    // Read before the report is opened, so that its own descriptor is not listed.
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(fds)) {
            if (entry->d_name[0] == '.' || std::stoi(entry->d_name) == ::dirfd(fds))
                continue;
            char target[4096];
            const ssize_t n = ::readlink((std::string("/proc/self/fd/") + entry->d_name).c_str(),
                                         target, sizeof target);
            report += "fd " + std::string(entry->d_name) + " -> " +
                      std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0) + '\n';
        }
        ::closedir(fds);
    }

    const std::string out = std::string(argv[0]) + ".out";
    std::ofstream(out + ".part") << report;
    return std::rename((out + ".part").c_str(), out.c_str()) == 0 ? 0 : 1;
}
