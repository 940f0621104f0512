// POSIX implementation of the platform layer (the native build for tests and tools).
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string ThisModulePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ThisModulePath), &info) == 0 || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved)) return resolved;
    return info.dli_fname;
}

std::string HostExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string CurrentDirectory() {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return {};
    return buf;
}

FileInfo GetFileInfo(const std::string& path) {
    FileInfo fi;
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return fi;
    fi.exists = true;
    fi.isDirectory = S_ISDIR(st.st_mode);
    fi.size = static_cast<uint64_t>(st.st_size);
    return fi;
}

bool CreateOneDirectory(const std::string& path) {
    if (path.empty()) return false;
    if (mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && GetFileInfo(path).isDirectory;
}

bool CreateDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (GetFileInfo(path).isDirectory) return true;
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/' || path[i] == '\\') {
            std::string part = path.substr(0, i);
            if (!GetFileInfo(part).isDirectory) mkdir(part.c_str(), 0777);
        }
    }
    return CreateOneDirectory(path);
}

bool RenameReplace(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

AppendResult AppendToFile(const std::string& path, const void* data, size_t size, uint64_t refuseFromSize) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return AppendResult::NotOpened;
    if (refuseFromSize != kNoSizeLimit) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= refuseFromSize) {
            ::close(fd);
            return AppendResult::Full;
        }
    }
    const char* p = static_cast<const char*>(data);
    AppendResult result = AppendResult::Written;
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = AppendResult::NotWritten;
            break;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    ::close(fd);
    return result;
}

bool ReadWholeFile(const std::string& path, std::string* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    std::fclose(f);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool IsAbsolutePath(const std::string& p) {
    if (p.size() >= 2 && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':')
        return true;
    return !p.empty() && (p[0] == '\\' || p[0] == '/');
}

bool ListDirectory(const std::string& dir, std::vector<std::string>* names) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    names->clear();
    while (const struct dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    closedir(d);
    return true;
}

FileHandle OpenAppendFile(const std::string& path, uint64_t* size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return kInvalidFile;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return kInvalidFile;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

bool WriteAppendFile(FileHandle file, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {  // a regular file takes all at once unless the disk fills
        const ssize_t n = ::write(static_cast<int>(file), p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void CloseAppendFile(FileHandle file) {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
}

bool GetEnv(const char* name, std::string* value) {
    const char* v = std::getenv(name);
    if (!v) return false;
    *value = v;
    return true;
}

bool SetEnv(const char* name, const char* value) {
    return value ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
}

LocalTime GetLocalTime() {
    time_t now = time(nullptr);
    struct tm tmv {};
    localtime_r(&now, &tmv);
    LocalTime lt;
    lt.year = static_cast<unsigned>(tmv.tm_year + 1900);
    lt.month = static_cast<unsigned>(tmv.tm_mon + 1);
    lt.day = static_cast<unsigned>(tmv.tm_mday);
    lt.hour = static_cast<unsigned>(tmv.tm_hour);
    lt.minute = static_cast<unsigned>(tmv.tm_min);
    lt.second = static_cast<unsigned>(tmv.tm_sec);
    return lt;
}

uint64_t WallClockUs() {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    return static_cast<uint64_t>(tv.tv_sec) * 1000000u + static_cast<uint64_t>(tv.tv_usec);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void DebugOutput(const char* text) {
    // The native build's stand-in for the debugger channel: stderr, only when asked for.
    static const bool enabled = std::getenv("ORVEX_DEBUG_OUTPUT") != nullptr;
    if (enabled && text) std::fputs(text, stderr);
}

namespace {
pthread_key_t g_textKey;
pthread_once_t g_textOnce = PTHREAD_ONCE_INIT;
bool g_textKeyValid = false;

void DeleteText(void* p) { delete static_cast<std::string*>(p); }
void CreateTextKey() { g_textKeyValid = pthread_key_create(&g_textKey, &DeleteText) == 0; }
}  // namespace

void SetThreadText(const std::string& text) {
    pthread_once(&g_textOnce, &CreateTextKey);
    if (!g_textKeyValid) return;
    auto* s = static_cast<std::string*>(pthread_getspecific(g_textKey));
    if (!s) {
        s = new std::string;
        pthread_setspecific(g_textKey, s);
    }
    *s = text;
}

std::string GetThreadText() {
    pthread_once(&g_textOnce, &CreateTextKey);
    if (!g_textKeyValid) return {};
    auto* s = static_cast<std::string*>(pthread_getspecific(g_textKey));
    return s ? *s : std::string();
}

void ThreadTextShutdown() {
    // Texts of other threads cannot be reached from here; the calling thread's is freed and
    // the key deleted so that no destructor points into an unloaded library.
    if (!g_textKeyValid) return;
    DeleteText(pthread_getspecific(g_textKey));
    pthread_setspecific(g_textKey, nullptr);
    pthread_key_delete(g_textKey);
    g_textKeyValid = false;
}

LibraryHandle LoadLibraryFile(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetLibrarySymbol(LibraryHandle lib, const char* name) { return lib ? dlsym(lib, name) : nullptr; }

void FreeLibraryFile(LibraryHandle lib) {
    if (lib) dlclose(lib);
}

const char* SharedLibrarySuffix() { return ".so"; }

LibraryHandle LoadedLibrary(const std::string& path) {
    // Even without loading, a found library counts one more reference, given back at once.
    void* lib = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (lib) dlclose(lib);
    return lib;
}

std::string LibraryPath(LibraryHandle lib) {
    link_map* map = nullptr;
    if (!lib || dlinfo(lib, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) return {};
    char resolved[PATH_MAX];
    return realpath(map->l_name, resolved) ? resolved : map->l_name;
}

void PinThisLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PinThisLibrary), &info) == 0 || !info.dli_fname) return;
    // The reference taken here is never given back.
    dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace platform
