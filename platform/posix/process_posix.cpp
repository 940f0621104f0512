// Starting a helper program that the caller never watches. A double fork leaves the program
// to init, so no zombie stays behind and no SIGCHLD handling of the host is disturbed; a
// close-on-exec pipe reports whether the exec itself worked.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {
// Splits a command line by the Windows rules: blanks separate arguments outside quotes;
// 2n backslashes before a quote give n backslashes and toggle quoting, 2n+1 give n and a
// literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0, n = line.size();
    for (;;) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            if (line[i] == '\\') {
                size_t slashes = 0;
                while (i < n && line[i] == '\\') ++slashes, ++i;
                if (i < n && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (line[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}
}  // namespace

bool StartDetachedProcess(const std::string& exePath, const std::string& commandLine) {
    if (exePath.empty()) return false;
    std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty()) args.push_back(exePath);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // Everything the children need is prepared here: after fork only async-signal-safe calls.
    long maxFd = sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
    int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) return false;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(devNull);
        return false;
    }
    const char* path = exePath.c_str();

    pid_t middle = fork();
    if (middle < 0) {
        close(devNull);
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (middle == 0) {
        pid_t child = fork();
        if (child < 0) {
            int err = errno;
            ssize_t ignored = write(report[1], &err, sizeof err);
            (void)ignored;
            _exit(1);
        }
        if (child == 0) {
            setsid();
            dup2(devNull, 0);
            dup2(devNull, 1);
            dup2(devNull, 2);
            for (int fd = 3; fd < maxFd; ++fd)
                if (fd != report[1]) close(fd);
            execv(path, argv.data());
            int err = errno;
            ssize_t ignored = write(report[1], &err, sizeof err);
            (void)ignored;
            _exit(127);
        }
        _exit(0);
    }
    close(devNull);
    close(report[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t got;
    do {
        got = read(report[0], &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    return got == 0;
}

int RunProgram(const std::string& exePath, const std::string& commandLine, const std::string& outputPath,
               uint32_t timeoutMs) {
    std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty()) args.push_back(exePath);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || devNull < 0) {
        if (out >= 0) close(out);
        if (devNull >= 0) close(devNull);
        return -1;
    }
    const char* path = exePath.c_str();
    pid_t child = fork();
    if (child == 0) {
        dup2(devNull, 0);
        dup2(out, 1);
        dup2(out, 2);
        execv(path, argv.data());
        _exit(127);
    }
    close(out);
    close(devNull);
    if (child < 0) return -1;
    int status = 0;
    for (uint32_t waited = 0;; waited += 10) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return -1;
        if (waited >= timeoutMs) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        usleep(10000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
