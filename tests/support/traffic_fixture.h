// A host session for traffic tests: a driver copy with the simulated VCI (tracing every call),
// an open device and helpers to write and read messages.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/driver_under_test.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

class TrafficTest : public ::testing::Test {
protected:
    void TearDown() override { Finish(); }

    // Loads baseName (with kQuickProbeIni + ini) beside VciSim (tracing, + vciSimIni) and opens it.
    void Start(const std::string& ini, const std::string& vciSimIni = "", const std::string& baseName = "Orvex_J2534") {
        Finish();
        ASSERT_TRUE(LoadDriverWithVciSim(&d, "traffic", baseName, kQuickProbeIni + ini,
                                         ("[General]\nTrace=trace.txt\nTraceEmptyPolls=0\n" + vciSimIni).c_str()));
        ASSERT_EQ(d.Open(nullptr, &dev), 0);
    }
    void Finish() {
        if (dev) d.Close(dev);
        dev = 0;
        if (d.handle) UnloadDriverCopy(&d);
    }
    uint32_t Connect(uint32_t protocol, uint32_t flags = 0) {
        j2534::ULONG ch = 0;
        EXPECT_EQ(d.Connect(dev, protocol, flags, 500000, &ch), 0) << d.LastError();
        return ch;
    }
    // Writes the messages; returns the code, the count in *count.
    int32_t Write(j2534::ULONG ch, std::vector<j2534::PASSTHRU_MSG> msgs, j2534::ULONG* count = nullptr, uint32_t timeout = 100) {
        j2534::ULONG n = static_cast<uint32_t>(msgs.size());
        int32_t rc = d.WriteMsgs(ch, msgs.data(), &n, timeout);
        if (count) *count = n;
        return rc;
    }
    int32_t Send(j2534::ULONG ch, uint32_t protocol, const std::string& hex, uint32_t flags = j2534::ISO15765_FRAME_PAD) {
        return Write(ch, {MakeMsg(protocol, HexBytes(hex), flags)});
    }
    // Reads one message; its data in *data (empty when none came).
    int32_t Read(uint32_t ch, Bytes* data, uint32_t timeout = 500) {
        j2534::PASSTHRU_MSG m = {};
        j2534::ULONG n = 1;
        int32_t rc = d.ReadMsgs(ch, &m, &n, timeout);
        data->clear();
        if (n == 1) *data = DataOf(m);
        return rc;
    }
    std::string Trace() const { return ReadFileText(JoinPath(d.dir, "trace.txt")); }
    std::string Log() const { return d.LogText(); }

    DriverUnderTest d;
    j2534::ULONG dev = 0;
};

// The VIN of the simulated engine ECU as a UDS answer.
inline Bytes VinAnswer(uint32_t rxId = 0x7E8) {
    Bytes b = {0, 0, static_cast<uint8_t>(rxId >> 8), static_cast<uint8_t>(rxId), 0x62, 0xF1, 0x90};
    for (char c : std::string("WVSIM000000000001")) b.push_back(static_cast<uint8_t>(c));
    return b;
}
