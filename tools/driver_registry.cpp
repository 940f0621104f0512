#include "tools/driver_registry.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/platform.h"
#include "tools/json_object.h"

bool EqualsNoCaseAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string PassthruDir(const DriverPlaces& places) {
    if (!places.passthruDir.empty()) return places.passthruDir;
    std::string home;
    if (!platform::GetEnv("HOME", &home) || home.empty()) return {};
    return home + "/.passthru";
}

namespace {

#if defined(_WIN32)
// Values of a 04.04 entry that are not protocol flags.
bool IsDescriptiveValue(const std::string& name) {
    for (const char* known : {"Name", "Vendor", "FunctionLibrary", "ConfigApplication", "APIVersion", "ProductVersion"})
        if (EqualsNoCaseAscii(name, known)) return true;
    return false;
}

RegisteredDriver ReadRegistryEntry(const std::string& key, const std::vector<platform::RegistryValue>& values) {
    RegisteredDriver d;
    d.entry = "HKLM\\" + key;
    bool haveName = false, haveLibrary = false;
    for (const platform::RegistryValue& v : values) {
        bool text = v.kind == platform::RegistryValue::Kind::String;
        if (EqualsNoCaseAscii(v.name, "Name")) {
            haveName = text;
            d.name = v.text;
        } else if (EqualsNoCaseAscii(v.name, "Vendor")) {
            d.vendor = v.text;
        } else if (EqualsNoCaseAscii(v.name, "FunctionLibrary")) {
            haveLibrary = text;
            d.library = v.text;
        } else if (!IsDescriptiveValue(v.name) && v.kind == platform::RegistryValue::Kind::Dword && v.number != 0) {
            d.protocols.push_back(v.name);
        }
    }
    if (!haveName) d.problem = "Name is missing or not a text";
    else if (!haveLibrary || d.library.empty()) d.problem = "FunctionLibrary is missing or not a text";
    return d;
}

bool ReadEntry(const std::string& key, int view, RegisteredDriver* out) {
    std::vector<platform::RegistryValue> values;
    if (platform::RegistryReadValues(key, view, &values) != platform::RegistryResult::Ok) return false;
    *out = ReadRegistryEntry(key, values);
    out->viewBits = {view};
    return true;
}

bool ListPlace(const DriverPlaces& places, int view, std::vector<RegisteredDriver>* out, std::string* error) {
    std::vector<std::string> keys;
    platform::RegistryResult r = platform::RegistryListSubkeys(places.key0404, view, &keys);
    if (r == platform::RegistryResult::NotFound) return true;
    if (r != platform::RegistryResult::Ok) {
        *error = "cannot read HKLM\\" + places.key0404;
        return false;
    }
    for (const std::string& name : keys) {
        RegisteredDriver d;
        if (!ReadEntry(places.key0404 + "\\" + name, view, &d)) continue;
        if (d.name.empty()) d.name = name;
        // The same entry in both views is one driver (32-bit Windows has only one view).
        auto same = std::find_if(out->begin(), out->end(), [&](const RegisteredDriver& o) {
            return o.entry == d.entry && o.name == d.name && o.library == d.library && o.problem == d.problem;
        });
        if (same != out->end()) same->viewBits.push_back(view);
        else out->push_back(d);
    }
    return true;
}

bool ListAll(const DriverPlaces& places, std::vector<RegisteredDriver>* out, std::string* error) {
    for (int view : places.views)
        if (!ListPlace(places, view, out, error)) return false;
    return true;
}
#else
RegisteredDriver ReadJsonEntry(const std::string& path) {
    RegisteredDriver d;
    d.entry = path;
    std::string text, why;
    std::vector<JsonMember> members;
    if (!platform::ReadWholeFile(path, &text)) {
        d.problem = "cannot be read";
        return d;
    }
    if (!ParseJsonObject(text, &members, &why)) {
        d.problem = "not valid JSON: " + why;
        return d;
    }
    bool haveName = false, haveLibrary = false;
    for (const JsonMember& m : members) {
        bool isText = m.kind == JsonMember::Kind::String;
        if (m.name == "NAME") {
            haveName = isText;
            d.name = m.text;
        } else if (m.name == "VENDOR") {
            d.vendor = m.text;
        } else if (m.name == "FUNCTION_LIB") {
            haveLibrary = isText;
            d.library = m.text;
        } else if (m.kind == JsonMember::Kind::Bool && m.flag) {
            d.protocols.push_back(m.name);
        }
    }
    if (!haveName) d.problem = "NAME is missing or not a text";
    else if (!haveLibrary || d.library.empty()) d.problem = "FUNCTION_LIB is missing or not a text";
    return d;
}

bool ListAll(const DriverPlaces& places, std::vector<RegisteredDriver>* out, std::string* error) {
    std::string dir = PassthruDir(places);
    if (dir.empty()) {
        *error = "no home folder (HOME is not set)";
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::exists(dir, ec)) return true;
    std::filesystem::directory_iterator it(dir, ec), end;
    if (ec) {
        *error = "cannot read " + dir;
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        const std::filesystem::path& p = it->path();
        if (p.extension() != ".json" || !it->is_regular_file(ec)) continue;
        RegisteredDriver d = ReadJsonEntry(p.string());
        if (d.name.empty()) d.name = p.stem().string();
        out->push_back(d);
    }
    return true;
}

bool ReadEntry(const std::string& path, int, RegisteredDriver* out) {
    if (!platform::GetFileInfo(path).exists) return false;
    *out = ReadJsonEntry(path);
    return true;
}
#endif

}  // namespace

bool ReadDriverEntry(const std::string& place, int viewBits, RegisteredDriver* out) {
    return ReadEntry(place, viewBits, out);
}

bool ListRegisteredDrivers(const DriverPlaces& places, std::vector<RegisteredDriver>* out, std::string* error) {
    out->clear();
    if (!ListAll(places, out, error)) return false;
    std::stable_sort(out->begin(), out->end(),
                     [](const RegisteredDriver& a, const RegisteredDriver& b) { return a.name < b.name; });
    return true;
}

bool FindRegisteredDriver(const DriverPlaces& places, const std::string& name, RegisteredDriver* out,
                          std::string* error) {
    DriverPlaces own = places;
    own.views = {0};
    std::vector<RegisteredDriver> all;
    if (!ListRegisteredDrivers(own, &all, error)) return false;
    for (const RegisteredDriver& d : all) {
        std::string entryName = d.entry.substr(d.entry.find_last_of("\\/") + 1);
        std::string stem = entryName.size() > 5 && EqualsNoCaseAscii(entryName.substr(entryName.size() - 5), ".json")
                               ? entryName.substr(0, entryName.size() - 5)
                               : entryName;
        if (!EqualsNoCaseAscii(d.name, name) && !EqualsNoCaseAscii(stem, name)) continue;
        if (!d.problem.empty()) {
            *error = "the entry " + d.entry + " of " + name + " is malformed: " + d.problem;
            return false;
        }
        *out = d;
        return true;
    }
    *error = "no J2534 driver named " + name + " is registered";
    return false;
}
