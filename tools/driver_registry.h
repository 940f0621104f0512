// The J2534 drivers registered on this machine, found where hosts look for them: on Windows
// the subkeys of HKLM\SOFTWARE\PassThruSupport.04.04, on Linux the JSON files of ~/.passthru.
#pragma once

#include <string>
#include <vector>

struct RegisteredDriver {
    std::string name;                    // Name / NAME
    std::string vendor;                  // Vendor / VENDOR
    std::string library;                 // FunctionLibrary / FUNCTION_LIB
    std::vector<std::string> protocols;  // the protocols the entry marks as supported
    std::string entry;                   // the registry key or the file that holds it
    std::vector<int> viewBits;           // Windows: the registry views it was found in (32, 64)
    std::string problem;                 // not empty: the entry is malformed, and why
};

// Where entries live. The defaults are the places hosts read; tests give others.
struct DriverPlaces {
    std::string key0404 = "SOFTWARE\\PassThruSupport.04.04";  // below HKLM
    std::string key0202 = "SOFTWARE\\PassThruSupport";        // 02.02 hosts: <vendor>\<device> below it
    std::vector<int> views = {32, 64};                         // Windows registry views to read
    std::string passthruDir;                                   // Linux; empty: $HOME/.passthru
};

// Every entry, malformed ones included (with problem set), sorted by name. A place that does not
// exist yet holds no entries; false with a reason when a place cannot be read.
bool ListRegisteredDrivers(const DriverPlaces& places, std::vector<RegisteredDriver>* out, std::string* error);
// The well-formed entry whose name (or key or file name) equals name without regard to case,
// read in the calling program's own registry view on Windows; false with a reason otherwise.
bool FindRegisteredDriver(const DriverPlaces& places, const std::string& name, RegisteredDriver* out,
                          std::string* error);
// One entry: a key below HKLM in the given view on Windows, a JSON file on Linux. False when it
// does not exist; a malformed one is returned with problem set.
bool ReadDriverEntry(const std::string& place, int viewBits, RegisteredDriver* out);
// The folder of JSON entries on Linux: places.passthruDir, else $HOME/.passthru.
std::string PassthruDir(const DriverPlaces& places);
// Names, keys and Windows paths compare without regard to (ASCII) case.
bool EqualsNoCaseAscii(const std::string& a, const std::string& b);
