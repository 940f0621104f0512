// A J2534 04.04 library loaded the way a host loads it: by path, through the OS loader, with
// its exports looked up by name.
#pragma once

#include <string>

#include "common/j2534_functions.h"

struct J2534Library : J2534Functions {
    void* handle = nullptr;

    // The library's own text for its last failure on this thread.
    std::string LastError() const;
};

// False with *error saying why: the file does not load, or an export is missing.
bool LoadJ2534Library(const std::string& path, J2534Library* lib, std::string* error);
void UnloadJ2534Library(J2534Library* lib);
