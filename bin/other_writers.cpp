#include "bin/other_writers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool all_digits(const char* s) {
    if (*s == '\0') return false;
    for (; *s != '\0'; ++s) {
        if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
    }
    return true;
}

// The access mode in /proc/PID/fdinfo/N: its "flags:" line, in octal.
bool opened_for_writing(const std::string& fdinfo) {
    FILE* f = std::fopen(fdinfo.c_str(), "re");
    if (f == nullptr) return false;
    char line[128];
    bool writes = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "flags:", 6) != 0) continue;
        const unsigned long flags = std::strtoul(line + 6, nullptr, 8);
        writes = (flags & O_ACCMODE) != O_RDONLY;
        break;
    }
    std::fclose(f);
    return writes;
}

bool process_writes(const std::string& pid, dev_t dev, ino_t ino) {
    const std::string fd_dir = "/proc/" + pid + "/fd";
    DIR* d = opendir(fd_dir.c_str());
    if (d == nullptr) return false;  // gone, or not ours to inspect
    bool writes = false;
    while (const dirent* e = readdir(d)) {
        if (!all_digits(e->d_name)) continue;
        struct stat st;
        if (stat((fd_dir + "/" + e->d_name).c_str(), &st) != 0 || st.st_dev != dev || st.st_ino != ino) continue;
        if (opened_for_writing("/proc/" + pid + "/fdinfo/" + e->d_name)) {
            writes = true;
            break;
        }
    }
    closedir(d);
    return writes;
}

}  // namespace

bool another_process_writes(dev_t dev, ino_t ino) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    const std::string self = std::to_string(getpid());
    bool found = false;
    while (const dirent* e = readdir(proc)) {
        if (!all_digits(e->d_name) || self == e->d_name) continue;
        if (process_writes(e->d_name, dev, ino)) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}
