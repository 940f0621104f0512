#include "tests/support/temp_dir.h"

#include <atomic>

#include "platform/platform.h"

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (platform::IsPathSeparator(dir.back())) return dir + name;
    return dir + platform::kPathSeparator + name;
}

std::string TestBinDir() {
    std::string exe = platform::HostExecutablePath();
    size_t pos = exe.find_last_of("\\/");
    return pos == std::string::npos ? std::string(".") : exe.substr(0, pos);
}

std::string MakeScenarioDir(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    std::string root = JoinPath(TestBinDir(), "scenarios");
    platform::CreateDirectories(root);
    // Process ids come round again (Wine numbers them afresh whenever its server restarts), so a
    // folder left by an earlier run is skipped rather than reused with its old logs and state.
    for (;;) {
        std::string dir = JoinPath(root, name + "_" + std::to_string(platform::CurrentProcessId()) + "_" +
                                             std::to_string(counter++));
        if (platform::GetFileInfo(dir).exists) continue;
        platform::CreateOneDirectory(dir);
        return dir;
    }
}

std::string ReadFileText(const std::string& path) {
    std::string text;
    platform::ReadWholeFile(path, &text);
    return text;
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    std::string data;
    return platform::ReadWholeFile(from, &data) && platform::WriteWholeFile(to, data);
}
