// orvex-register and the reading of registered drivers: exactly the expected entries written,
// found again as hosts find them, removed again without touching anyone else's.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tools/driver_registry.h"
#include "tools/json_object.h"
#include "tools/registration.h"

namespace {
const std::string kSuffix = platform::SharedLibrarySuffix();

struct Outcome {
    int rc;
    std::string out, err;
};

Outcome Register(const std::vector<std::string>& args, const DriverPlaces& places, const std::string& dir) {
    Outcome r;
    r.rc = RunRegisterCommand(args, places, dir, &r.out, &r.err);
    return r;
}

// A folder with copies of the built driver under the given family names.
std::string LibraryFolder(const std::string& scenario, const std::vector<std::string>& baseNames) {
    std::string dir = MakeScenarioDir(scenario);
    for (const std::string& name : baseNames)
        EXPECT_TRUE(CopyFileTo(JoinPath(TestBinDir(), "Orvex_J2534" + kSuffix), JoinPath(dir, name + kSuffix)));
    return dir;
}
}  // namespace

TEST(Registration, UsageAndAFolderWithoutADriver) {
    DriverPlaces places;
    places.passthruDir = MakeScenarioDir("reg_usage_pt");
    EXPECT_EQ(Register({}, places, ".").rc, kRegisterUsage);
    EXPECT_EQ(Register({"install", "uninstall"}, places, ".").rc, kRegisterUsage);
    Outcome r = Register({"install", "--dir"}, places, ".");
    EXPECT_EQ(r.rc, kRegisterUsage);
    EXPECT_NE(r.err.find("usage: orvex-register install|uninstall|list"), std::string::npos);

    std::string empty = MakeScenarioDir("reg_empty");
    r = Register({"install"}, places, empty);
    EXPECT_EQ(r.rc, kRegisterNoLibrary);
    EXPECT_EQ(r.err, "orvex-register: no J2534 driver library (Orvex_J2534" + kSuffix + ", TRX4820_J2534" + kSuffix +
                         " or TVN_J2534" + kSuffix + ") in " + empty + "\n");
    platform::WriteWholeFile(JoinPath(empty, "TVN_J2534" + kSuffix), "not a library at all");
    r = Register({"install", "--dir", empty}, places, ".");
    EXPECT_EQ(r.rc, kRegisterNoLibrary);
    EXPECT_NE(r.err.find("TVN_J2534" + kSuffix + " is not a"), std::string::npos);
}

#if !defined(_WIN32)

namespace {
std::map<std::string, std::string> JsonOf(const std::string& path) {
    std::vector<JsonMember> members;
    std::string error;
    EXPECT_TRUE(ParseJsonObject(ReadFileText(path), &members, &error)) << path << ": " << error;
    std::map<std::string, std::string> out;
    for (const JsonMember& m : members)
        out[m.name] = m.kind == JsonMember::Kind::Bool ? (m.flag ? "true" : "false") : m.text;
    return out;
}
}  // namespace

TEST(Registration, LinuxEntriesAreWrittenFoundAndRemoved) {
    std::string libs = LibraryFolder("reg_linux_libs", {"Orvex_J2534", "TVN_J2534"});
    DriverPlaces places;
    places.passthruDir = JoinPath(MakeScenarioDir("reg_linux"), "passthru");  // made by install
    const std::string other = JoinPath(places.passthruDir, "other.json");

    // The folder given relatively, with detours, names the libraries plainly.
    std::string detour = libs + "/./../" + libs.substr(libs.find_last_of('/') + 1) + "/";
    Outcome r = Register({"install", "--dir", detour}, places, "/nowhere");
    ASSERT_EQ(r.rc, kRegisterOk) << r.err;
    const std::string orvex = JoinPath(places.passthruDir, "Orvex_J2534.json");
    const std::string tvn = JoinPath(places.passthruDir, "TVN_J2534.json");
    EXPECT_EQ(JsonOf(orvex), (std::map<std::string, std::string>{{"NAME", "MIVRA Orvex J2534"},
                                                                   {"VENDOR", "MIVRA"},
                                                                   {"FUNCTION_LIB", JoinPath(libs, "Orvex_J2534.so")},
                                                                   {"CAN", "true"},
                                                                   {"ISO15765", "true"},
                                                                   {"ISO9141", "true"},
                                                                   {"ISO14230", "true"},
                                                                   {"CAN_FD", "true"},
                                                                   {"ISO15765_FD", "true"},
                                                                   {"DOIP", "true"}}));
    EXPECT_EQ(JsonOf(tvn), (std::map<std::string, std::string>{{"NAME", "MIVRA TVN J2534"},
                                                                 {"VENDOR", "MIVRA"},
                                                                 {"FUNCTION_LIB", JoinPath(libs, "TVN_J2534.so")},
                                                                 {"CAN", "true"},
                                                                 {"ISO15765", "true"}}));
    EXPECT_FALSE(platform::GetFileInfo(JoinPath(places.passthruDir, "TRX4820_J2534.json")).exists);

    // Another vendor's entry is listed and found, and survives everything that follows.
    const std::string otherText = "{\"NAME\": \"Other Device\", \"FUNCTION_LIB\": \"/opt/other/lib.so\", \"CAN\": true,"
                                  " \"J1850PWM\": false, \"extra\": {\"x\": 1}}";
    platform::WriteWholeFile(other, otherText);
    std::vector<RegisteredDriver> all;
    std::string error;
    ASSERT_TRUE(ListRegisteredDrivers(places, &all, &error)) << error;
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].name, "MIVRA Orvex J2534");
    EXPECT_EQ(all[1].name, "MIVRA TVN J2534");
    EXPECT_EQ(all[2].name, "Other Device");
    EXPECT_EQ(all[2].protocols, std::vector<std::string>{"CAN"});
    RegisteredDriver found;
    ASSERT_TRUE(FindRegisteredDriver(places, "mivra tvn j2534", &found, &error)) << error;
    EXPECT_EQ(found.library, JoinPath(libs, "TVN_J2534.so"));
    ASSERT_TRUE(FindRegisteredDriver(places, "Orvex_J2534", &found, &error)) << error;  // by its file
    EXPECT_EQ(found.name, "MIVRA Orvex J2534");
    EXPECT_FALSE(FindRegisteredDriver(places, "Nobody", &found, &error));
    EXPECT_EQ(error, "no J2534 driver named Nobody is registered");
    r = Register({"list"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterOk);
    EXPECT_NE(r.out.find("MIVRA TVN J2534 (MIVRA)\n    library:   " + JoinPath(libs, "TVN_J2534.so") +
                         "\n    protocols: CAN ISO15765\n    entry:     " + tvn + "\n"),
              std::string::npos)
        << r.out;

    // An entry that names a library elsewhere is not this folder's to remove.
    std::string elsewhere = LibraryFolder("reg_linux_elsewhere", {"TVN_J2534"});
    r = Register({"uninstall"}, places, elsewhere);
    EXPECT_EQ(r.rc, kRegisterOk);
    EXPECT_NE(r.out.find("left " + tvn + ": it names " + JoinPath(libs, "TVN_J2534.so") + "\n"), std::string::npos);
    EXPECT_TRUE(platform::GetFileInfo(tvn).exists);
    r = Register({"uninstall"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterOk) << r.err;
    EXPECT_FALSE(platform::GetFileInfo(orvex).exists);
    EXPECT_FALSE(platform::GetFileInfo(tvn).exists);
    EXPECT_EQ(ReadFileText(other), otherText);
    ASSERT_TRUE(ListRegisteredDrivers(places, &all, &error));
    EXPECT_EQ(all.size(), 1u);
}

TEST(Registration, LinuxMalformedEntriesAndUnwritablePlacesAreReported) {
    std::string libs = LibraryFolder("reg_linux_bad_libs", {"Orvex_J2534", "TRX4820_J2534"});
    DriverPlaces places;
    places.passthruDir = MakeScenarioDir("reg_linux_bad");
    const std::string broken = JoinPath(places.passthruDir, "TRX4820_J2534.json");
    platform::WriteWholeFile(broken, "{\"NAME\": \"MIVRA TRX4820 J2534\", \"FUNCTION_LIB\": 5}");

    Outcome r = Register({"install"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterMalformed);
    EXPECT_EQ(r.err, "orvex-register: " + broken +
                         " exists but is malformed (FUNCTION_LIB is missing or not a text); remove it by hand, then "
                         "install again\n");
    EXPECT_FALSE(platform::GetFileInfo(JoinPath(places.passthruDir, "Orvex_J2534.json")).exists);  // nothing written
    r = Register({"uninstall"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterMalformed);
    EXPECT_TRUE(platform::GetFileInfo(broken).exists);
    std::vector<RegisteredDriver> all;
    std::string error;
    ASSERT_TRUE(ListRegisteredDrivers(places, &all, &error));
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].problem, "FUNCTION_LIB is missing or not a text");
    RegisteredDriver found;
    EXPECT_FALSE(FindRegisteredDriver(places, "MIVRA TRX4820 J2534", &found, &error));
    EXPECT_NE(error.find("is malformed: FUNCTION_LIB is missing"), std::string::npos);
    platform::WriteWholeFile(broken, "{\"NAME\": \"MIVRA TRX4820 J2534\",");
    ASSERT_TRUE(ListRegisteredDrivers(places, &all, &error));
    EXPECT_EQ(all[0].problem.compare(0, 15, "not valid JSON:"), 0) << all[0].problem;

    // The place for the entries cannot be made: a file stands where its folder would be.
    platform::RemoveFile(broken);
    places.passthruDir = JoinPath(places.passthruDir, "Orvex_J2534.json");
    platform::WriteWholeFile(places.passthruDir, "x");
    places.passthruDir = JoinPath(places.passthruDir, "sub");
    r = Register({"install"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterNoAccess);
    EXPECT_NE(r.err.find("cannot write " + JoinPath(places.passthruDir, "Orvex_J2534.json")), std::string::npos);
}

#else

namespace {
using platform::RegistryValue;

// A file that reads as a DLL for the given width: enough header to tell it.
std::string PeHeader(int bits) {
    std::string b(0x48, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    b[0x3C] = 0x40;
    b.replace(0x40, 4, std::string("PE\0\0", 4));
    b[0x44] = static_cast<char>(bits == 64 ? 0x64 : 0x4C);
    b[0x45] = static_cast<char>(bits == 64 ? 0x86 : 0x01);
    return b;
}

// Values of a key as name -> "sz:text" or "dword:n".
std::map<std::string, std::string> ValuesOf(const std::string& key, int view) {
    std::vector<RegistryValue> values;
    std::map<std::string, std::string> out;
    if (platform::RegistryReadValues(key, view, &values) != platform::RegistryResult::Ok) return out;
    for (const RegistryValue& v : values)
        out[v.name] = v.kind == RegistryValue::Kind::String ? "sz:" + v.text
                      : v.kind == RegistryValue::Kind::Dword ? "dword:" + std::to_string(v.number)
                                                              : "other";
    return out;
}

bool KeyExists(const std::string& key, int view) {
    std::vector<std::string> names;
    return platform::RegistryListSubkeys(key, view, &names) == platform::RegistryResult::Ok;
}
}  // namespace

// One test: the steps build on each other, and their keys must not meet another test's.
TEST(Registration, WindowsEntriesInTheViewOfEachLibrary) {
    const int own = sizeof(void*) == 8 ? 64 : 32;
    const int foreign = own == 64 ? 32 : 64;
    const std::string root = "SOFTWARE\\OrvexRegistrationTest_" + std::to_string(platform::CurrentProcessId());
    DriverPlaces places;
    places.key0404 = root + "\\PassThruSupport.04.04";
    places.key0202 = root + "\\PassThruSupport";

    std::string libs = LibraryFolder("reg_windows", {"Orvex_J2534"});
    ASSERT_TRUE(CopyFileTo(JoinPath(TestBinDir(), "Orvex_J2534_0202.dll"), JoinPath(libs, "Orvex_J2534_0202.dll")));
    platform::WriteWholeFile(JoinPath(libs, "Controlpad.exe"), PeHeader(own));
    // A TVN library of the other width goes to the other view.
    platform::WriteWholeFile(JoinPath(libs, "TVN_J2534.dll"), PeHeader(foreign));
    // Another vendor's entry stays as it is.
    RegistryValue otherName{"Name", RegistryValue::Kind::String, "Other Device", 0};
    RegistryValue otherLib{"FunctionLibrary", RegistryValue::Kind::String, "C:\\Other\\other.dll", 0};
    const std::string otherKey = places.key0404 + "\\Other Device";
    ASSERT_EQ(platform::RegistryWriteValue(otherKey, own, otherName), platform::RegistryResult::Ok);
    ASSERT_EQ(platform::RegistryWriteValue(otherKey, own, otherLib), platform::RegistryResult::Ok);

    Outcome r = Register({"install"}, places, libs);
    ASSERT_EQ(r.rc, kRegisterOk) << r.err;
    const std::string orvexKey = places.key0404 + "\\MIVRA Orvex J2534";
    const std::string adapterKey = places.key0202 + "\\MIVRA\\Orvex J2534";
    const std::string tvnKey = places.key0404 + "\\MIVRA TVN J2534";
    EXPECT_EQ(ValuesOf(orvexKey, own),
              (std::map<std::string, std::string>{{"Name", "sz:MIVRA Orvex J2534"},
                                                  {"Vendor", "sz:MIVRA"},
                                                  {"FunctionLibrary", "sz:" + JoinPath(libs, "Orvex_J2534.dll")},
                                                  {"ConfigApplication", "sz:" + JoinPath(libs, "Controlpad.exe")},
                                                  {"APIVersion", "sz:04.04"},
                                                  {"ProductVersion", "sz:27.03.26"},
                                                  {"CAN", "dword:1"},
                                                  {"ISO15765", "dword:1"},
                                                  {"ISO9141", "dword:1"},
                                                  {"ISO14230", "dword:1"},
                                                  {"CAN_FD", "dword:1"},
                                                  {"ISO15765_FD", "dword:1"},
                                                  {"DOIP", "dword:1"}}));
    EXPECT_EQ(ValuesOf(adapterKey, own),
              (std::map<std::string, std::string>{{"Name", "sz:MIVRA Orvex J2534"},
                                                  {"Vendor", "sz:MIVRA"},
                                                  {"FunctionLibrary", "sz:" + JoinPath(libs, "Orvex_J2534_0202.dll")},
                                                  {"ConfigApplication", "sz:" + JoinPath(libs, "Controlpad.exe")},
                                                  {"APIVersion", "sz:02.02"},
                                                  {"ProductVersion", "sz:27.03.26"},
                                                  {"ProtocolsSupported", "sz:CAN,ISO15765,ISO9141,ISO14230"},
                                                  {"CAN", "dword:1"},
                                                  {"ISO15765", "dword:1"},
                                                  {"ISO9141", "dword:1"},
                                                  {"ISO14230", "dword:1"}}));
    std::map<std::string, std::string> tvn = ValuesOf(tvnKey, foreign);
    EXPECT_EQ(tvn["FunctionLibrary"], "sz:" + JoinPath(libs, "TVN_J2534.dll"));
    EXPECT_EQ(tvn.size(), 8u);  // no K-Line, CAN FD or DoIP flags
    if (own == 64) {
        // On 64-bit Windows the 32-bit view is a subtree of its own.
        EXPECT_FALSE(KeyExists(tvnKey, 64));
        EXPECT_TRUE(KeyExists("SOFTWARE\\WOW6432Node" + tvnKey.substr(8), 64));
        EXPECT_FALSE(KeyExists(orvexKey, 32));
    }

    // Found as a host of this width finds drivers.
    RegisteredDriver found;
    std::string error;
    ASSERT_TRUE(FindRegisteredDriver(places, "MIVRA Orvex J2534", &found, &error)) << error;
    EXPECT_EQ(found.library, JoinPath(libs, "Orvex_J2534.dll"));
    std::vector<RegisteredDriver> all;
    ASSERT_TRUE(ListRegisteredDrivers(places, &all, &error)) << error;
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].name, "Other Device");
    r = Register({"list"}, places, libs);
    EXPECT_NE(r.out.find("entry:     HKLM\\" + adapterKey), std::string::npos) << r.out;

    // A malformed entry of ours blocks install and uninstall alike, and is left as it was.
    RegistryValue badName{"Name", RegistryValue::Kind::Dword, "", 7};
    ASSERT_EQ(platform::RegistryWriteValue(orvexKey, own, badName), platform::RegistryResult::Ok);
    r = Register({"install"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterMalformed);
    EXPECT_NE(r.err.find("exists but is malformed (Name is missing or not a text)"), std::string::npos) << r.err;
    r = Register({"uninstall"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterMalformed);
    EXPECT_EQ(ValuesOf(orvexKey, own)["Name"], "dword:7");
    ASSERT_EQ(platform::RegistryWriteValue(orvexKey, own, otherName), platform::RegistryResult::Ok);
    otherName.text = "MIVRA Orvex J2534";
    ASSERT_EQ(platform::RegistryWriteValue(orvexKey, own, otherName), platform::RegistryResult::Ok);

    // Uninstall leaves nothing of ours, and the other vendor's entry untouched.
    r = Register({"uninstall"}, places, libs);
    EXPECT_EQ(r.rc, kRegisterOk) << r.err;
    EXPECT_FALSE(KeyExists(orvexKey, own));
    EXPECT_FALSE(KeyExists(tvnKey, foreign));
    EXPECT_FALSE(KeyExists(places.key0202 + "\\MIVRA", own));
    EXPECT_EQ(ValuesOf(otherKey, own).size(), 2u);

    platform::RegistryDeleteValue(otherKey, own, "Name");
    platform::RegistryDeleteValue(otherKey, own, "FunctionLibrary");
    for (int view : {own, foreign})
        for (const std::string& key : {otherKey, places.key0404, places.key0202, root})
            EXPECT_EQ(platform::RegistryDeleteKeyIfEmpty(key, view), platform::RegistryResult::Ok);
    EXPECT_FALSE(KeyExists(root, own));
}

#endif
