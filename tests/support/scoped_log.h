// Points the driver's log at a file of a test (or nowhere) and puts the earlier settings back
// when the test is done.
#pragma once

#include <string>

#include "driver/log/log.h"

class ScopedLog {
public:
    ScopedLog() : saved_(CurrentLogSettings()) {}
    ~ScopedLog() { SetLogSettings(saved_); }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;

    void To(const std::string& path, bool enabled = true) { SetLogSettings({enabled, path, "", ""}); }
    void Off() { To(std::string(), false); }
    const std::string& Path() const { return CurrentLogSettings().path; }

private:
    LogSettings saved_;
};
