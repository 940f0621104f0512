#include "tools/registration.h"

#include <cstdint>

#include "common/version.h"
#include "platform/platform.h"
#include "tools/json_object.h"

namespace {

// One entry per VCI family whose library lies in the folder. The protocols are those the
// family connects with its reference INI (TVN has no K-Line, CAN FD or DoIP resources there).
struct Family {
    const char* baseName;
    const char* name;    // the 04.04 key and Name
    const char* device;  // the 02.02 device key below the vendor's
    bool extended;
};
const Family kFamilies[] = {{"Orvex_J2534", "MIVRA Orvex J2534", "Orvex J2534", true},
                            {"TRX4820_J2534", "MIVRA TRX4820 J2534", "TRX4820 J2534", true},
                            {"TVN_J2534", "MIVRA TVN J2534", "TVN J2534", false}};
const char* const kVendor = "MIVRA";
const char* const kBasicProtocols[] = {"CAN", "ISO15765"};
const char* const kExtendedProtocols[] = {"ISO9141", "ISO14230", "CAN_FD", "ISO15765_FD", "DOIP"};

std::vector<std::string> ProtocolsOf(const Family& f) {
    std::vector<std::string> list(std::begin(kBasicProtocols), std::end(kBasicProtocols));
    if (f.extended) list.insert(list.end(), std::begin(kExtendedProtocols), std::end(kExtendedProtocols));
    return list;
}

std::string Join(const std::string& dir, const std::string& name) {
    if (!dir.empty() && platform::IsPathSeparator(dir.back())) return dir + name;
    return dir + platform::kPathSeparator + name;
}

// The folder as a full path without "." and ".." parts, so that every entry names a library the
// same way whichever way the folder was given.
std::string AbsoluteFolder(const std::string& given) {
    std::string dir = platform::IsAbsolutePath(given) ? given : Join(platform::CurrentDirectory(), given);
    size_t rootEnd = 0;
    if (dir.size() >= 2 && dir[1] == ':') rootEnd = 2;
    while (rootEnd < dir.size() && platform::IsPathSeparator(dir[rootEnd])) ++rootEnd;
    std::vector<std::string> parts;
    for (size_t at = rootEnd; at < dir.size();) {
        size_t end = at;
        while (end < dir.size() && !platform::IsPathSeparator(dir[end])) ++end;
        std::string part = dir.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string clean = dir.substr(0, rootEnd);
    for (size_t i = 0; i < parts.size(); ++i) clean += (i == 0 ? "" : std::string(1, platform::kPathSeparator)) + parts[i];
    return clean;
}

uint32_t Le(const std::string& b, size_t at, size_t n) {
    uint32_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

// 32 or 64 for a Windows DLL or Linux shared object of that width; 0 for any other file.
int LibraryBits(const std::string& path) {
    std::string b;
    if (!platform::ReadWholeFile(path, &b)) return 0;
    if (b.size() >= 5 && b.compare(0, 4, "\x7f" "ELF") == 0) return b[4] == 1 ? 32 : b[4] == 2 ? 64 : 0;
    if (b.size() < 0x40 || b.compare(0, 2, "MZ") != 0) return 0;
    size_t pe = Le(b, 0x3C, 4);
    if (pe > b.size() || b.size() - pe < 6 || b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    uint32_t machine = Le(b, pe + 4, 2);
    return machine == 0x14C ? 32 : machine == 0x8664 ? 64 : 0;
}

struct Context {
    DriverPlaces places;
    std::string dir;
    std::string* out;
    std::string* err;
    int Error(int code, const std::string& text) {
        *err += "orvex-register: " + text + "\n";
        return code;
    }
};

// The libraries of the families that lie in the folder.
struct Found {
    const Family* family;
    std::string library;
};
std::vector<Found> LibrariesIn(const std::string& dir, const std::string& suffix) {
    std::vector<Found> found;
    for (const Family& f : kFamilies) {
        std::string path = Join(dir, f.baseName + suffix);
        if (platform::GetFileInfo(path).exists) found.push_back({&f, path});
    }
    return found;
}

std::string NoLibraryText(const std::string& dir) {
    const std::string suffix = platform::SharedLibrarySuffix();
    return "no J2534 driver library (Orvex_J2534" + suffix + ", TRX4820_J2534" + suffix + " or TVN_J2534" + suffix +
           ") in " + dir;
}

#if defined(_WIN32)

using platform::RegistryResult;
using platform::RegistryValue;

// The protocols 02.02 hosts know.
bool InOlderApi(const std::string& protocol) { return protocol.find('_') == std::string::npos && protocol != "DOIP"; }

RegistryValue Text(const char* name, const std::string& text) {
    RegistryValue v;
    v.name = name;
    v.kind = RegistryValue::Kind::String;
    v.text = text;
    return v;
}

RegistryValue Flag(const std::string& name) {
    RegistryValue v;
    v.name = name;
    v.kind = RegistryValue::Kind::Dword;
    v.number = 1;
    return v;
}

struct Entry {
    std::string key;
    int view = 0;
    std::string library;
    std::vector<RegistryValue> values;
};

std::string Where(const Entry& e) { return "HKLM\\" + e.key + " (" + std::to_string(e.view) + "-bit view)"; }

// Every value name install writes, for uninstall.
std::vector<std::string> ValueNamesWritten() {
    std::vector<std::string> names = {"Name", "Vendor", "FunctionLibrary", "ConfigApplication", "APIVersion",
                                      "ProductVersion", "ProtocolsSupported"};
    names.insert(names.end(), std::begin(kBasicProtocols), std::end(kBasicProtocols));
    names.insert(names.end(), std::begin(kExtendedProtocols), std::end(kExtendedProtocols));
    return names;
}

std::string Key0202(const DriverPlaces& places, const Family& f) {
    return places.key0202 + "\\" + kVendor + "\\" + f.device;
}

Entry MakeEntry(const Context& c, const Family& f, const std::string& library, int view, bool olderApi) {
    Entry e;
    e.key = olderApi ? Key0202(c.places, f) : c.places.key0404 + "\\" + f.name;
    e.view = view;
    e.library = library;
    e.values = {Text("Name", f.name), Text("Vendor", kVendor), Text("FunctionLibrary", library)};
    std::string panel = Join(c.dir, "Controlpad.exe");
    if (platform::GetFileInfo(panel).exists) e.values.push_back(Text("ConfigApplication", panel));
    e.values.push_back(Text("APIVersion", olderApi ? "02.02" : "04.04"));
    e.values.push_back(Text("ProductVersion", ORVEX_PRODUCT_VERSION));
    std::string list;
    for (const std::string& p : ProtocolsOf(f)) {
        if (olderApi && !InOlderApi(p)) continue;
        e.values.push_back(Flag(p));
        list += (list.empty() ? "" : ",") + p;
    }
    if (olderApi) e.values.push_back(Text("ProtocolsSupported", list));
    return e;
}

int Install(Context& c) {
    std::vector<Found> found = LibrariesIn(c.dir, ".dll");
    if (found.empty()) return c.Error(kRegisterNoLibrary, NoLibraryText(c.dir));
    std::vector<Entry> entries;
    for (const Found& lib : found) {
        int bits = LibraryBits(lib.library);
        if (bits == 0) return c.Error(kRegisterNoLibrary, lib.library + " is not a Windows DLL");
        entries.push_back(MakeEntry(c, *lib.family, lib.library, bits, false));
        std::string adapter = Join(c.dir, std::string(lib.family->baseName) + "_0202.dll");
        if (!platform::GetFileInfo(adapter).exists) continue;
        int adapterBits = LibraryBits(adapter);
        if (adapterBits == 0) return c.Error(kRegisterNoLibrary, adapter + " is not a Windows DLL");
        entries.push_back(MakeEntry(c, *lib.family, adapter, adapterBits, true));
    }
    // Nothing is written while any existing entry is in doubt.
    for (const Entry& e : entries) {
        RegisteredDriver old;
        if (!ReadDriverEntry(e.key, e.view, &old)) continue;
        if (!old.problem.empty())
            return c.Error(kRegisterMalformed, Where(e) + " exists but is malformed (" + old.problem +
                                                   "); remove it by hand, then install again");
        if (!EqualsNoCaseAscii(old.library, e.library)) *c.out += "replacing " + Where(e) + ", which named " + old.library + "\n";
    }
    for (const Entry& e : entries) {
        for (const RegistryValue& v : e.values) {
            RegistryResult r = platform::RegistryWriteValue(e.key, e.view, v);
            if (r == RegistryResult::AccessDenied)
                return c.Error(kRegisterNoAccess, "cannot write " + Where(e) +
                                                      ": access denied. Registering needs administrator rights: "
                                                      "run orvex-register from an elevated prompt");
            if (r != RegistryResult::Ok) return c.Error(kRegisterFailed, "cannot write " + Where(e));
        }
        *c.out += "registered " + e.library + " in " + Where(e) + "\n";
    }
    return kRegisterOk;
}

// Removes the entry at key in view if it names library; its parent goes too when left empty
// and removeEmptyParent is set.
int RemoveIfOurs(Context& c, const std::string& key, int view, const std::string& library, bool removeEmptyParent) {
    Entry where;
    where.key = key;
    where.view = view;
    RegisteredDriver old;
    if (!ReadDriverEntry(key, view, &old)) return kRegisterOk;
    if (!old.problem.empty())
        return c.Error(kRegisterMalformed, Where(where) + " is malformed (" + old.problem + "); left as it is");
    if (!EqualsNoCaseAscii(old.library, library)) {
        *c.out += "left " + Where(where) + ": it names " + old.library + "\n";
        return kRegisterOk;
    }
    for (const std::string& name : ValueNamesWritten()) {
        RegistryResult r = platform::RegistryDeleteValue(key, view, name);
        if (r == RegistryResult::AccessDenied)
            return c.Error(kRegisterNoAccess, "cannot change " + Where(where) +
                                                  ": access denied. Run orvex-register from an elevated prompt");
        if (r != RegistryResult::Ok) return c.Error(kRegisterFailed, "cannot change " + Where(where));
    }
    if (platform::RegistryDeleteKeyIfEmpty(key, view) != RegistryResult::Ok ||
        (removeEmptyParent && platform::RegistryDeleteKeyIfEmpty(key.substr(0, key.find_last_of('\\')), view) !=
                                  RegistryResult::Ok))
        return c.Error(kRegisterFailed, "cannot remove " + Where(where));
    *c.out += "removed " + Where(where) + "\n";
    return kRegisterOk;
}

int Uninstall(Context& c) {
    int result = kRegisterOk;
    for (const Family& f : kFamilies) {
        std::string library = Join(c.dir, std::string(f.baseName) + ".dll");
        std::string adapter = Join(c.dir, std::string(f.baseName) + "_0202.dll");
        for (int view : c.places.views) {
            int r = RemoveIfOurs(c, c.places.key0404 + "\\" + f.name, view, library, false);
            if (r == kRegisterOk) r = RemoveIfOurs(c, Key0202(c.places, f), view, adapter, true);
            if (r != kRegisterOk && result == kRegisterOk) result = r;
        }
    }
    return result;
}

// 02.02 entries: <vendor>\<device> below key0202.
void ListOlderApi(const Context& c, std::vector<RegisteredDriver>* out) {
    for (int view : c.places.views) {
        std::vector<std::string> vendors;
        platform::RegistryListSubkeys(c.places.key0202, view, &vendors);
        for (const std::string& vendor : vendors) {
            std::vector<std::string> devices;
            platform::RegistryListSubkeys(c.places.key0202 + "\\" + vendor, view, &devices);
            for (const std::string& device : devices) {
                RegisteredDriver d;
                if (!ReadDriverEntry(c.places.key0202 + "\\" + vendor + "\\" + device, view, &d)) continue;
                bool seen = false;
                for (RegisteredDriver& o : *out) {
                    if (o.entry != d.entry || o.library != d.library) continue;
                    o.viewBits.push_back(view);  // 32-bit Windows shows the one registry in both views
                    seen = true;
                }
                if (!seen) out->push_back(d);
            }
        }
    }
}

#else

std::string EntryFile(const Context& c, const Family& f) {
    return Join(PassthruDir(c.places), std::string(f.baseName) + ".json");
}

std::string JsonEntry(const Family& f, const std::string& library) {
    std::string text = "{\n    \"NAME\": " + JsonQuote(f.name) + ",\n    \"VENDOR\": " + JsonQuote(kVendor) +
                       ",\n    \"FUNCTION_LIB\": " + JsonQuote(library);
    for (const std::string& p : ProtocolsOf(f)) text += ",\n    " + JsonQuote(p) + ": true";
    return text + "\n}\n";
}

int Install(Context& c) {
    std::vector<Found> found = LibrariesIn(c.dir, ".so");
    if (found.empty()) return c.Error(kRegisterNoLibrary, NoLibraryText(c.dir));
    std::string folder = PassthruDir(c.places);
    if (folder.empty()) return c.Error(kRegisterFailed, "no home folder (HOME is not set); give --passthru-dir");
    for (const Found& lib : found) {
        if (LibraryBits(lib.library) == 0) return c.Error(kRegisterNoLibrary, lib.library + " is not a shared library");
        RegisteredDriver old;
        std::string file = EntryFile(c, *lib.family);
        if (ReadDriverEntry(file, 0, &old) && !old.problem.empty())
            return c.Error(kRegisterMalformed,
                           file + " exists but is malformed (" + old.problem + "); remove it by hand, then install again");
    }
    for (const Found& lib : found) {
        std::string file = EntryFile(c, *lib.family);
        RegisteredDriver old;
        if (ReadDriverEntry(file, 0, &old) && old.library != lib.library)
            *c.out += "replacing " + file + ", which named " + old.library + "\n";
        if (!platform::CreateDirectories(folder) || !platform::WriteWholeFile(file, JsonEntry(*lib.family, lib.library)))
            return c.Error(kRegisterNoAccess, "cannot write " + file + " (no write access to " + folder + "?)");
        *c.out += "registered " + lib.library + " in " + file + "\n";
    }
    return kRegisterOk;
}

int Uninstall(Context& c) {
    int result = kRegisterOk;
    for (const Family& f : kFamilies) {
        std::string file = EntryFile(c, f);
        RegisteredDriver old;
        if (!ReadDriverEntry(file, 0, &old)) continue;
        if (!old.problem.empty()) {
            c.Error(kRegisterMalformed, file + " is malformed (" + old.problem + "); left as it is");
            if (result == kRegisterOk) result = kRegisterMalformed;
        } else if (old.library != Join(c.dir, std::string(f.baseName) + ".so")) {
            *c.out += "left " + file + ": it names " + old.library + "\n";
        } else if (!platform::RemoveFile(file)) {
            c.Error(kRegisterNoAccess, "cannot remove " + file);
            if (result == kRegisterOk) result = kRegisterNoAccess;
        } else {
            *c.out += "removed " + file + "\n";
        }
    }
    return result;
}

#endif

void Print(const RegisteredDriver& d, std::string* out) {
    *out += d.name + (d.vendor.empty() ? "" : " (" + d.vendor + ")") + "\n";
    if (!d.problem.empty()) *out += "    malformed: " + d.problem + "\n";
    *out += "    library:   " + d.library + "\n    protocols:";
    for (const std::string& p : d.protocols) *out += " " + p;
    *out += "\n    entry:     " + d.entry;
    for (size_t i = 0; i < d.viewBits.size(); ++i)
        *out += (i == 0 ? " (seen by " : " and ") + std::to_string(d.viewBits[i]) + "-bit" +
                (i + 1 == d.viewBits.size() ? " hosts)" : "");
    *out += "\n";
}

int List(Context& c) {
    std::vector<RegisteredDriver> drivers;
    std::string error;
    if (!ListRegisteredDrivers(c.places, &drivers, &error)) return c.Error(kRegisterFailed, error);
#if defined(_WIN32)
    ListOlderApi(c, &drivers);
#endif
    if (drivers.empty()) *c.out += "no J2534 driver is registered\n";
    for (const RegisteredDriver& d : drivers) Print(d, c.out);
    return kRegisterOk;
}

const char* const kUsage =
    "usage: orvex-register install|uninstall|list [--dir FOLDER]"
#if !defined(_WIN32)
    " [--passthru-dir FOLDER]"
#endif
    "\n"
    "  install    registers each driver library (Orvex_J2534, TRX4820_J2534, TVN_J2534) that lies in\n"
    "             FOLDER (default: this program's folder) where J2534 hosts look for drivers\n"
    "  uninstall  removes exactly those entries again\n"
    "  list       shows every registered J2534 driver\n"
    "exit codes: 0 done, 1 usage, 2 no driver library, 3 no write access, 4 malformed entry, 5 other failure\n";

}  // namespace

int RunRegisterCommand(const std::vector<std::string>& args, const DriverPlaces& places, const std::string& libraryDir,
                       std::string* out, std::string* err) {
    Context c{places, libraryDir, out, err};
    std::string command;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == "--dir" && hasValue) {
            c.dir = args[++i];
#if !defined(_WIN32)
        } else if (a == "--passthru-dir" && hasValue) {
            c.places.passthruDir = args[++i];
#endif
        } else if (command.empty() && (a == "install" || a == "uninstall" || a == "list")) {
            command = a;
        } else {
            *err += kUsage;
            return kRegisterUsage;
        }
    }
    if (command.empty()) {
        *err += kUsage;
        return kRegisterUsage;
    }
    c.dir = AbsoluteFolder(c.dir);
    if (command == "install") return Install(c);
    if (command == "uninstall") return Uninstall(c);
    return List(c);
}
