// Identity of the driver library itself: where it lies and what it is called.
#pragma once

#include <string>

// Full path of the driver library (not the host executable); empty when unknown.
std::string ModuleFullPath();
// The full path without its last component; empty when unknown.
std::string ModuleDirectory();
// File name without folder and extension; "Orvex_J2534" when the path is unknown.
std::string ModuleBaseName();

// Path helpers shared by the configuration and the log (both separators accepted).
std::string LastPathComponent(const std::string& path);
std::string WithoutLastComponent(const std::string& path);
std::string StripExtension(const std::string& fileName);
// name inside dir, with the platform's separator unless dir is empty or ends in one.
std::string JoinDir(const std::string& dir, const std::string& name);
