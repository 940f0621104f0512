// A host that unloads the driver without PassThruClose and loads it again in the same process:
// the new copy releases what the old one left in the vendor library, in the order of a clean
// close, and comes up on the VCI; a crash in that teardown costs nothing more than its call.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/dpdu/session_note.h"
#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace {

const char kAdoption[] = "Orphaned D-PDU session: ";

// Trace lines that start with head and contain part.
std::vector<std::string> Lines(const std::string& trace, const std::string& head, const std::string& part = "") {
    std::vector<std::string> out;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, head.size(), head) == 0 && line.find(part) != std::string::npos) out.push_back(line);
    return out;
}

// Constructions that succeeded and were not destructed since.
int LiveConstructions(const std::string& trace) {
    return static_cast<int>(Lines(trace, "PDUConstruct ", "-> 0x0").size()) -
           static_cast<int>(Lines(trace, "PDUDestruct ", "").size());
}

// Notes of this process left by a copy of the driver in dir.
size_t NotesOf(const std::string& dir) {
    size_t n = 0;
    for (uint32_t slot = 0; slot < kSessionNoteGap * 4; ++slot) {
        platform::ProcessNote view;
        if (!platform::OpenProcessNote(kSessionNoteName, slot, sizeof(SessionNote), &view)) continue;
        const SessionNote* note = static_cast<const SessionNote*>(view.memory);
        if (note->state.load() == kNoteHeld && std::string(note->ownerPath).find(dir) == 0) ++n;
        platform::ReleaseProcessNote(view);
    }
    return n;
}

class OrphanedSession : public ::testing::Test {
protected:
    void TearDown() override {
        if (!d_.handle) return;
        d_.Close(0);
        UnloadDriverCopy(&d_);
    }
    void Load(const std::string& scenario, const std::string& vciSimIni) {
        ASSERT_TRUE(LoadDriverWithVciSim(&d_, scenario, "Orvex_J2534", kQuickProbeIni, vciSimIni.c_str()));
    }
    void VciSimIni(const std::string& text) { platform::WriteWholeFile(JoinPath(d_.dir, "VciSim.ini"), text); }
    std::string Trace() const { return ReadFileText(JoinPath(d_.dir, "trace.txt")); }

    // Open, ISO 15765 and CAN: every call must succeed.
    void OpenAndConnect(j2534::ULONG* iso, j2534::ULONG* can) {
        j2534::ULONG dev = 0;
        ASSERT_EQ(d_.Open(nullptr, &dev), 0) << d_.LastError();
        ASSERT_EQ(d_.Connect(dev, j2534::ISO15765, 0, 500000, iso), 0) << d_.LastError();
        ASSERT_EQ(d_.Connect(dev, j2534::CAN, 0, 500000, can), 0) << d_.LastError();
    }
    void SendVinRequest(j2534::ULONG iso) {
        j2534::PASSTHRU_MSG request =
            MakeMsg(j2534::ISO15765, HexBytes("00 00 07 E0 22 F1 90"), j2534::ISO15765_FRAME_PAD);
        j2534::ULONG n = 1;
        ASSERT_EQ(d_.WriteMsgs(iso, &request, &n, 100), 0) << d_.LastError();
    }
    // The VIN request and its answer.
    bool VinAnswered(j2534::ULONG iso) {
        SendVinRequest(iso);
        for (int i = 0; i < 5; ++i) {
            j2534::PASSTHRU_MSG in = {};
            j2534::ULONG n = 1;
            if (d_.ReadMsgs(iso, &in, &n, 200) != 0 || n != 1) continue;
            const Bytes head = HexBytes("00 00 07 E8 62 F1 90");
            const Bytes data = DataOf(in);
            if (data.size() >= head.size() && Bytes(data.begin(), data.begin() + head.size()) == head) return true;
        }
        return false;
    }

    DriverUnderTest d_;
};

}  // namespace

TEST_F(OrphanedSession, AReloadReleasesTheOrphanAndComesUpTwiceInARow) {
    Load("orphan_reload", "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n");
    j2534::ULONG iso = 0, can = 0;
    OpenAndConnect(&iso, &can);
    EXPECT_EQ(NotesOf(d_.dir), 1u);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const size_t traceBefore = Trace().size();
        ASSERT_TRUE(ReloadDriverCopy(&d_));  // no PassThruClose
        OpenAndConnect(&iso, &can);
        EXPECT_TRUE(VinAnswered(iso));

        // What the orphan held went in the order of a clean close, before the new construction.
        const std::string trace = Trace().substr(traceBefore);
        for (uint32_t hCLL : {1u, 2u}) {
            const std::string handles = "hMod=1 hCLL=" + std::to_string(hCLL) + " -> 0x0";
            EXPECT_EQ(Lines(trace, "PDUDisconnect ", handles).size(), 1u) << trace;
            EXPECT_EQ(Lines(trace, "PDUDestroyComLogicalLink ", handles).size(), 1u) << trace;
        }
        const size_t moduleGone = trace.find("PDUModuleDisconnect hMod=1 -> 0x0");
        const size_t destructed = trace.find("PDUDestruct -> 0x0 liveItems=0");
        const size_t constructed = trace.find("PDUConstruct option=");
        EXPECT_LT(trace.rfind("PDUDestroyComLogicalLink", moduleGone), moduleGone);
        EXPECT_LT(moduleGone, destructed);
        EXPECT_LT(destructed, constructed);
        EXPECT_EQ(LiveConstructions(Trace()), 1);

        // Copies of other tests in this process may have left orphans of their own, released here too.
        const std::string log = d_.LogText();
        const std::string leftBy = std::string(kAdoption) + "left by '" + d_.dir;
        EXPECT_EQ(CountOf(log, leftBy), static_cast<size_t>(round));
        EXPECT_EQ(CountOf(log, std::string(kAdoption) + "released '" + d_.dir), static_cast<size_t>(round));
        const size_t ours = log.rfind(leftBy);
        ASSERT_NE(ours, std::string::npos);
        const size_t linkGone = log.find(std::string(kAdoption) + "PDUDestroyComLogicalLink hMod=1 hCLL=2 -> 0x0\r\n", ours);
        const size_t moduleLine = log.find(std::string(kAdoption) + "PDUModuleDisconnect hMod=1 -> 0x0\r\n", ours);
        const size_t destructLine = log.find(std::string(kAdoption) + "PDUDestruct -> 0x0\r\n", ours);
        EXPECT_LT(linkGone, moduleLine);
        EXPECT_LT(moduleLine, destructLine);
        EXPECT_NE(destructLine, std::string::npos);
        EXPECT_EQ(NotesOf(d_.dir), 1u);  // the new session's own
    }
}

TEST_F(OrphanedSession, AComPrimitiveInFlightIsCancelled) {
    // The engine takes its time: the request is still running at the unload.
    Load("orphan_inflight", "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n[Ecu1]\nResponseDelayMs=20000\n");
    j2534::ULONG iso = 0, can = 0;
    OpenAndConnect(&iso, &can);
    SendVinRequest(iso);
    const std::vector<std::string> started = Lines(Trace(), "PDUStartComPrimitive ", "22 F1 90");
    ASSERT_EQ(started.size(), 1u);
    const std::string hCoP = started[0].substr(started[0].find("hCoP="));

    VciSimIni("[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n");
    ASSERT_TRUE(ReloadDriverCopy(&d_));
    OpenAndConnect(&iso, &can);
    EXPECT_TRUE(VinAnswered(iso));
    const std::vector<std::string> cancelled = Lines(Trace(), "PDUCancelComPrimitive ", hCoP + " -> 0x0");
    EXPECT_EQ(cancelled.size(), 1u) << Trace();
    const std::string trace = Trace();
    EXPECT_LT(trace.find("PDUCancelComPrimitive"), trace.find("PDUDisconnect"));
    EXPECT_NE(d_.LogText().find(std::string(kAdoption) + "PDUCancelComPrimitive hMod=1 hCLL=1 " + hCoP + " -> 0x0\r\n"),
              std::string::npos);
    EXPECT_EQ(LiveConstructions(trace), 1);
}

TEST_F(OrphanedSession, ReadVbattBringsTheBackendUpAfterReleasingTheOrphan) {
    Load("orphan_vbatt", "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n");
    j2534::ULONG iso = 0, can = 0;
    OpenAndConnect(&iso, &can);
    ASSERT_TRUE(ReloadDriverCopy(&d_));
    j2534::ULONG dev = 0, mv = 0;
    ASSERT_EQ(d_.Open(nullptr, &dev), 0);
    ASSERT_EQ(d_.Ioctl(0, j2534::READ_VBATT, nullptr, &mv), 0) << d_.LastError();
    EXPECT_EQ(mv, 12600u);  // the VCI's reading, not the fallback
    EXPECT_NE(d_.LogText().find(std::string(kAdoption) + "released '"), std::string::npos);
    EXPECT_EQ(LiveConstructions(Trace()), 1);
}

// The vendor library crashes in one call of the teardown: that call is logged, the rest goes on,
// the library is let go all the same, and the new session comes up on a fresh load of it.
TEST_F(OrphanedSession, ACrashInTheTeardownCostsOnlyThatCall) {
    for (const char* fn : {"PDUCancelComPrimitive", "PDUDisconnect", "PDUDestroyComLogicalLink", "PDUModuleDisconnect",
                           "PDUDestruct"}) {
        SCOPED_TRACE(fn);
        // A session never makes these calls before its close: the first one is the teardown's.
        Load(std::string("orphan_crash_") + fn,
             "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n[Faults]\nCrash=" + std::string(fn) + "@1\n");
        j2534::ULONG iso = 0, can = 0;
        OpenAndConnect(&iso, &can);
        ASSERT_TRUE(VinAnswered(iso));
        ASSERT_EQ(Lines(Trace(), std::string(fn) + " ").size(), 0u);
        // The simulator loaded afresh after the teardown does not crash.
        VciSimIni("[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n");
        ASSERT_TRUE(ReloadDriverCopy(&d_));
        OpenAndConnect(&iso, &can);
        EXPECT_TRUE(VinAnswered(iso));
        const std::string log = d_.LogText();
        const size_t line = log.find(std::string(kAdoption) + fn);
        ASSERT_NE(line, std::string::npos);
        EXPECT_NE(log.find("-> exception=0x", line), std::string::npos);
        EXPECT_NE(log.find(std::string(kAdoption) + "released", line), std::string::npos);
        EXPECT_NE(Trace().find(std::string(fn) + " -> CRASH"), std::string::npos);
        EXPECT_EQ(d_.Close(0), 0);
        UnloadDriverCopy(&d_);
        if (HasFailure()) break;
    }
}

TEST_F(OrphanedSession, ACleanCloseLeavesNoNoteAndAReloadAdoptsNothing) {
    Load("orphan_clean", "[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n");
    j2534::ULONG iso = 0, can = 0;
    OpenAndConnect(&iso, &can);
    EXPECT_EQ(NotesOf(d_.dir), 1u);
    ASSERT_EQ(d_.Close(0), 0);
    EXPECT_EQ(NotesOf(d_.dir), 0u);
    ASSERT_TRUE(ReloadDriverCopy(&d_));
    OpenAndConnect(&iso, &can);
    EXPECT_TRUE(VinAnswered(iso));
    EXPECT_EQ(d_.LogText().find(std::string(kAdoption) + "left by '" + d_.dir), std::string::npos);
    EXPECT_EQ(LiveConstructions(Trace()), 1);
}
