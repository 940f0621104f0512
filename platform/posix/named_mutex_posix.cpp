// Named cross-process mutex on POSIX: an flock on a file in the temporary folder. The lock
// belongs to the open file, so the kernel drops it when its holder closes it or ends.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

namespace {
struct NamedMutex {
    int fd = -1;
};

std::string LockFilePath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    std::string file;
    for (char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '-' || c == '.';
        file += plain ? c : '_';
    }
    return dir + "/" + file + ".lock";
}
}  // namespace

void* CreateNamedMutex(const std::string& name, bool* alreadyExisted) {
    if (alreadyExisted) *alreadyExisted = false;
    if (name.empty()) return nullptr;
    int fd = open(LockFilePath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            close(fd);
            return nullptr;
        }
        if (alreadyExisted) *alreadyExisted = true;
    }
    return new NamedMutex{fd};
}

void CloseNamedMutex(void* handle) {
    NamedMutex* m = static_cast<NamedMutex*>(handle);
    if (!m) return;
    close(m->fd);
    delete m;
}

}  // namespace platform
