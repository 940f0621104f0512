// What the benchmark programs share: stopping with a message, and binding exports by name.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

[[noreturn]] inline void BenchFail(const char* program, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", program, what.c_str());
    std::exit(1);
}

template <typename Fn>
Fn BenchSymbol(const char* program, void* library, const char* name) {
    void* address = platform::GetLibrarySymbol(library, name);
    if (!address) BenchFail(program, std::string("missing ") + name);
    return reinterpret_cast<Fn>(address);
}
