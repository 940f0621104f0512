// Notes that outlive a library on POSIX: shared-memory objects named after the process, its
// start time and a slot. An object stays until its name is removed, even with no view left, so
// the first note a library creates removes the notes of processes that have ended.
#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

// When process pid started, in clock ticks since boot (field 22 of /proc/<pid>/stat); 0 when it
// does not exist or cannot be read.
uint64_t ProcessStart(const std::string& pid) {
    std::string text;
    if (!ReadWholeFile("/proc/" + pid + "/stat", &text)) return 0;
    // The command name in parentheses may hold blanks and parentheses of its own.
    size_t pos = text.rfind(')');
    if (pos == std::string::npos) return 0;
    // After the name: state (field 3), ..., starttime (field 22).
    for (int field = 2; field < 22; ++field) {
        pos = text.find(' ', pos + 1);
        if (pos == std::string::npos) return 0;
    }
    return std::strtoull(text.c_str() + pos + 1, nullptr, 10);
}

const std::string& ThisProcessTag() {
    static const std::string tag = [] {
        const std::string pid = std::to_string(getpid());
        return pid + "." + std::to_string(ProcessStart(pid));
    }();
    return tag;
}

std::string NotePath(const std::string& name, uint32_t slot) {
    return "/" + name + "." + ThisProcessTag() + "." + std::to_string(slot);
}

// Notes under name that no running process owns: "<name>.<pid>.<start>.<slot>" whose process is
// gone, or whose process id now belongs to a process that started at another time.
void RemoveNotesOfEndedProcesses(const std::string& name) {
    DIR* dir = opendir("/dev/shm");
    if (!dir) return;
    const std::string prefix = name + ".";
    while (const dirent* entry = readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t pidEnd = file.find('.', prefix.size());
        const size_t startEnd = pidEnd == std::string::npos ? pidEnd : file.find('.', pidEnd + 1);
        if (startEnd == std::string::npos) continue;
        const std::string pid = file.substr(prefix.size(), pidEnd - prefix.size());
        const std::string start = file.substr(pidEnd + 1, startEnd - pidEnd - 1);
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (std::to_string(ProcessStart(pid)) == start) continue;
        shm_unlink(("/" + file).c_str());
    }
    closedir(dir);
}

bool MapNote(int fd, size_t size, ProcessNote* note) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (memory == MAP_FAILED) return false;
    *note = ProcessNote{memory, size, 0};
    return true;
}

}  // namespace

bool CreateProcessNote(const std::string& name, uint32_t slotCount, size_t size, ProcessNote* note, uint32_t* slot) {
    static std::atomic<bool> swept{false};
    if (!swept.exchange(true)) RemoveNotesOfEndedProcesses(name);
    for (uint32_t i = 0; i < slotCount; ++i) {
        const std::string path = NotePath(name, i);
        const int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        const bool sized = ftruncate(fd, static_cast<off_t>(size)) == 0;
        if (!sized) close(fd);
        if (!sized || !MapNote(fd, size, note)) {
            shm_unlink(path.c_str());
            return false;
        }
        *slot = i;
        return true;
    }
    return false;
}

bool OpenProcessNote(const std::string& name, uint32_t slot, size_t size, ProcessNote* note) {
    const int fd = shm_open(NotePath(name, slot).c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info;
    // A note being created has no size yet.
    if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(size)) {
        close(fd);
        return false;
    }
    return MapNote(fd, size, note);
}

void ReleaseProcessNote(const ProcessNote& view) {
    if (view.memory) munmap(view.memory, view.size);
}

void RemoveProcessNote(const std::string& name, uint32_t slot) { shm_unlink(NotePath(name, slot).c_str()); }

}  // namespace platform
