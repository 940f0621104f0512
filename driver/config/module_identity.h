// Identity of the driver library itself: where it lies and what it is called.
#pragma once

#include <string>

// Full path of the driver library (not the host executable); empty when unknown.
std::string ModuleFullPath();
// The full path without its last component; empty when unknown.
std::string ModuleDirectory();
// File name without folder and extension; "Orvex_J2534" when the path is unknown.
std::string ModuleBaseName();
