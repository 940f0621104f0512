// orvex-register: writes this driver's entries where J2534 hosts look for drivers, removes
// exactly those again, and lists what is registered.
#pragma once

#include <string>
#include <vector>

#include "tools/driver_registry.h"

// Exit codes.
constexpr int kRegisterOk = 0;
constexpr int kRegisterUsage = 1;
constexpr int kRegisterNoLibrary = 2;  // no driver library in the folder, or a file that is none
constexpr int kRegisterNoAccess = 3;   // the place cannot be written (not elevated on Windows)
constexpr int kRegisterMalformed = 4;  // an existing entry of this driver is malformed: left as it is
constexpr int kRegisterFailed = 5;

// Runs "install", "uninstall" or "list" with its options: --dir FOLDER (where the libraries
// lie; default libraryDir) and, on Linux, --passthru-dir FOLDER (where the entries go). Messages
// go to out, failures to err; the result is one of the exit codes above.
int RunRegisterCommand(const std::vector<std::string>& args, const DriverPlaces& places, const std::string& libraryDir,
                       std::string* out, std::string* err);
