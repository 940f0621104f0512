// Choosing the VCI module among those the vendor library lists: the configured filters and,
// without filters, a score from well-known words of the module's texts.
#pragma once

#include <string>

struct ModuleScore {
    int score = 0;
    bool looksMivra = false;
    bool serial = false;
    bool conn = false;
    bool connUsb = false;
    bool connIp = false;
    bool connWifi = false;
    bool j2534std = false;
};

ModuleScore ScoreModule(const std::string& vendor, const std::string& info);
// All three filters (case-insensitive substring tests); empty filters match anything.
bool ModuleMatchesFilters(const std::string& vendor, const std::string& info, const std::string& deviceName,
                          const std::string& vendorName, const std::string& serialNumber);
bool ContainsNoCase(const std::string& text, const std::string& part);
