// The control panel's INI rules without its window: options, which files, what is shown and
// what each change writes.
#include "controlpad/panel_settings.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Ini(const std::string& dir, const std::string& name, const std::string& text) {
    const std::string path = JoinPath(dir, name);
    platform::WriteWholeFile(path, text);
    return path;
}

std::string Value(const std::string& file, const char* section, const char* key) {
    return platform::ProfileGetString(section, key, "-", file);
}

}  // namespace

TEST(PanelOptions, FirstOccurrenceWinsAndIniPathBeatsIni) {
    PanelOptions o = ParsePanelOptions({"--ini", "b.ini", "--inipath", "a.ini", "--inipath", "c.ini", "--stopevent",
                                        "Stop", "--parentpid", "1234", "--parentpid", "99"});
    EXPECT_EQ(o.iniPath, "a.ini");
    EXPECT_EQ(o.stopEvent, "Stop");
    EXPECT_TRUE(o.hasParentPid);
    EXPECT_EQ(o.parentPid, 1234u);

    // An empty --inipath leaves --ini in force; option names are exact; a value is never an option.
    o = ParsePanelOptions({"--inipath", "", "--ini", "b.ini", "--INI", "x.ini", "--stopevent", "--parentpid"});
    EXPECT_EQ(o.iniPath, "b.ini");
    EXPECT_EQ(o.stopEvent, "--parentpid");
    EXPECT_FALSE(o.hasParentPid);

    // A process id that is no number, and an option without a value, count as not given.
    o = ParsePanelOptions({"--parentpid", "12x", "--ini"});
    EXPECT_FALSE(o.hasParentPid);
    EXPECT_EQ(o.iniPath, "");
}

TEST(PanelInis, CandidatesInFamilyOrderGivenPathFirst) {
    const std::string dir = MakeScenarioDir("panel_candidates");
    const std::string program = JoinPath(dir, "Controlpad.exe");
    EXPECT_TRUE(ChoosePanelInis(program, "").active.empty());

    const std::string tvn = Ini(dir, "TVN_J2534.ini", "");
    platform::CreateOneDirectory(JoinPath(dir, "Orvex_J2534.ini"));  // a folder is no candidate
    const std::string trx = Ini(dir, "TRX4820_J2534.ini", "");
    EXPECT_EQ(FindCandidateInis(program), (std::vector<std::string>{trx, tvn}));

    PanelIniFiles files = ChoosePanelInis(program, "");
    EXPECT_EQ(files.active, trx);
    EXPECT_EQ(files.all, (std::vector<std::string>{trx, tvn}));

    // A path outside the folder is read from and joins the front, even when it does not exist yet.
    const std::string other = JoinPath(dir, "other.ini");
    files = ChoosePanelInis(program, other);
    EXPECT_EQ(files.active, other);
    EXPECT_EQ(files.all, (std::vector<std::string>{other, trx, tvn}));

    // A candidate named again, in other letter case, is listed once.
    std::string shouted = tvn;
    for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    files = ChoosePanelInis(program, shouted);
    EXPECT_EQ(files.active, shouted);
    EXPECT_EQ(files.all.size(), 2u);

    // A bare name is taken from the current folder, not from wherever the OS keeps its own INIs.
    files = ChoosePanelInis(program, "bare.ini");
    EXPECT_TRUE(platform::IsAbsolutePath(files.active));
    EXPECT_EQ(files.active, JoinPath(platform::CurrentDirectory(), "bare.ini"));
}

TEST(PanelInis, WriteProbeLeavesNoTraceAndFailsWhenNothingTakesIt) {
    const std::string dir = MakeScenarioDir("panel_probe");
    const std::string text = "[Bench]\r\nBenchEnabled=1\r\n";
    const std::string ini = Ini(dir, "Orvex_J2534.ini", text);
    const std::string unreachable = JoinPath(JoinPath(dir, "missing"), "x.ini");
    EXPECT_TRUE(ProbeWritable(PanelIniFiles{unreachable, {unreachable, ini}}));
    EXPECT_EQ(ReadFileText(ini), text);
    EXPECT_FALSE(ProbeWritable(PanelIniFiles{unreachable, {unreachable}}));
    EXPECT_FALSE(ProbeWritable(PanelIniFiles{}));
}

TEST(PanelSettingsRead, DefaultsAliasesAndValuesBelowOne) {
    const std::string dir = MakeScenarioDir("panel_read");
    PanelSettings s = ReadPanelSettings(Ini(dir, "empty.ini", ""));
    EXPECT_FALSE(s.bench);
    EXPECT_EQ(s.profile, "DEFAULT");
    EXPECT_EQ(s.noEcuTimeoutMs, 200);
    EXPECT_EQ(s.batteryMilliVolts, 12100);
    EXPECT_FALSE(s.ignitionOn);
    EXPECT_FALSE(s.capture);

    s = ReadPanelSettings(
        Ini(dir, "set.ini",
            "[Bench]\r\nBenchEnabled=0\r\nEnabled=1\r\nNoEcuTimeoutMs=-3\r\n[Profile]\r\nMode= \tpcmflash\r\n"
            "[BatteryConfig]\r\nDefaultMilliVolts=0\r\n[Ignition]\r\nForceIgnitionOn=1\r\n[Capture]\r\nEnabled=on\r\n"));
    EXPECT_TRUE(s.bench);  // BenchEnabled=0 falls back to Enabled
    EXPECT_EQ(s.profile, "PCMFLASH");
    EXPECT_EQ(s.noEcuTimeoutMs, 200);
    EXPECT_EQ(s.batteryMilliVolts, 12100);
    EXPECT_TRUE(s.ignitionOn);
    EXPECT_TRUE(s.capture);

    // The driver's own spellings: a bench switch written as a word, a profile under another name.
    s = ReadPanelSettings(
        Ini(dir, "words.ini", "[Bench]\r\nBenchEnabled=Yes\r\nNoEcuTimeoutMs=450\r\n[Profile]\r\nMode=mb\r\n"));
    EXPECT_TRUE(s.bench);
    EXPECT_EQ(s.profile, "XENTRY");
    EXPECT_EQ(s.noEcuTimeoutMs, 450);
    s = ReadPanelSettings(
        Ini(dir, "off.ini", "[Bench]\r\nBenchEnabled=off\r\nEnabled=false\r\n[Profile]\r\nMode=\r\n"));
    EXPECT_FALSE(s.bench);
    EXPECT_EQ(s.profile, "DEFAULT");
}

TEST(PanelSettingsWrite, KeysOfEachChangeInEveryFile) {
    const std::string dir = MakeScenarioDir("panel_write");
    const std::string a = Ini(dir, "a.ini", "[Backend]\r\nType=Orvex\r\n");
    const std::string b = Ini(dir, "b.ini", "");
    const PanelIniFiles files{a, {a, b}};

    PanelSettings s;
    s.bench = true;
    s.profile = "XENTRY";
    s.noEcuTimeoutMs = 750;
    s.batteryMilliVolts = 13000;
    s.ignitionOn = true;
    s.capture = true;
    WritePanelSettings(files, s);
    for (const std::string& f : {a, b}) {
        SCOPED_TRACE(f);
        EXPECT_EQ(Value(f, "Profile", "Mode"), "XENTRY");
        EXPECT_EQ(Value(f, "PCMflash", "PCMflashEnabled"), "0");
        for (const char* key : {"UseSendRecvIso15765", "StripCanIdInDataForIso15765", "TryIso15765ComParams",
                                "FallbackPayloadOnlyIfComParamsFail", "InstallIso15765ResponseFilters"})
            EXPECT_EQ(Value(f, "Xentry", key), "1") << key;
        EXPECT_EQ(Value(f, "Odis", "UseSendRecvIso15765"), "-");
        EXPECT_EQ(Value(f, "Bench", "BenchEnabled"), "1");
        EXPECT_EQ(Value(f, "Bench", "NoEcuMode"), "1");
        EXPECT_EQ(Value(f, "BatteryConfig", "AlwaysOverride"), "1");
        EXPECT_EQ(Value(f, "Bench", "NoEcuTimeoutMs"), "750");
        EXPECT_EQ(Value(f, "BatteryConfig", "DefaultMilliVolts"), "13000");
        EXPECT_EQ(Value(f, "Ignition", "ForceIgnitionOn"), "1");
        EXPECT_EQ(Value(f, "Capture", "Enabled"), "1");
    }
    EXPECT_EQ(Value(a, "Backend", "Type"), "Orvex");

    // Bench off and another profile: only the flags change, what was set before stays.
    s.bench = false;
    s.profile = "PCMFLASH";
    s.noEcuTimeoutMs = 300;
    s.ignitionOn = false;
    s.capture = false;
    WritePanelSettings(files, s);
    EXPECT_EQ(Value(b, "Profile", "Mode"), "PCMFLASH");
    EXPECT_EQ(Value(b, "PCMflash", "PCMflashEnabled"), "1");
    EXPECT_EQ(Value(b, "Bench", "BenchEnabled"), "0");
    EXPECT_EQ(Value(b, "Bench", "NoEcuTimeoutMs"), "750");
    EXPECT_EQ(Value(b, "Xentry", "UseSendRecvIso15765"), "1");
    EXPECT_EQ(Value(b, "Ignition", "ForceIgnitionOn"), "0");
    EXPECT_EQ(Value(b, "Capture", "Enabled"), "0");

    s.profile = "";  // nothing chosen
    WritePanelSettings(files, s);
    EXPECT_EQ(Value(a, "Profile", "Mode"), "DEFAULT");
    EXPECT_EQ(Value(a, "PCMflash", "PCMflashEnabled"), "0");
    s.profile = "ODIS";
    WritePanelSettings(files, s);
    EXPECT_EQ(Value(a, "Odis", "UseSendRecvIso15765"), "1");
}

TEST(PanelFields, OnlyPositiveDecimalNumbersCount) {
    EXPECT_EQ(FieldNumber("750", 200), 750);
    EXPECT_EQ(FieldNumber("  +42 ", 200), 42);
    for (const char* text : {"", "0", "-5", "abc", "12abc", "1 2", "+", "99999999999", "2147483648"})
        EXPECT_EQ(FieldNumber(text, 200), 200) << text;
    EXPECT_EQ(FieldNumber("2147483647", 200), 2147483647);
    EXPECT_EQ(NormalizeProfile("\r\n odis\t"), "ODIS");
    EXPECT_EQ(NormalizeProfile("vw"), "ODIS");
    EXPECT_EQ(NormalizeProfile("pcm_flash"), "PCMFLASH");
    EXPECT_EQ(NormalizeProfile("Generic"), "DEFAULT");
    EXPECT_EQ(NormalizeProfile("Other"), "OTHER");
}
