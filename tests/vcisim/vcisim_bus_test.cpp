// The simulated VCI's bus: traffic from other nodes on raw CAN links with the bounded receive
// queue, and CAN FD on the CAN resources.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/vcisim/vcisim_fixture.h"
#include "vcisim/traffic_counts.h"

// Named: the test files of a program are compiled together.
namespace bus_test {

using Bytes = std::vector<uint8_t>;

struct Counts {
    uint64_t generated = 0, delivered = 0, dropped = 0;
};

struct Frame {
    uint32_t id = 0;
    uint32_t seq = 0;
    UNUM32 timestamp = 0;
    Bytes data;  // after the id
};

class Traffic {
public:
    explicit Traffic(VciSimLib& v) : v_(v) {
        get_ = reinterpret_cast<VciSimGetTrafficCountsFn>(platform::GetLibrarySymbol(v.handle, "VciSimGetTrafficCounts"));
        EXPECT_NE(get_, nullptr);
    }
    Counts Of(UNUM32 hCLL) {
        Counts c;
        EXPECT_EQ(0u, get_(hCLL, &c.generated, &c.delivered, &c.dropped));
        return c;
    }
    T_PDU_ERROR Raw(UNUM32 hCLL, uint64_t* a, uint64_t* b, uint64_t* c) { return get_(hCLL, a, b, c); }

    // A ComPrimitive that only receives, until it is cancelled.
    UNUM32 Listen(UNUM32 hMod, UNUM32 hCLL) {
        PDU_COP_CTRL_DATA ctrl{};
        ctrl.NumSendCycles = 0;
        ctrl.NumReceiveCycles = -1;
        UNUM32 hCoP = 0;
        EXPECT_EQ(0u, v_.StartComPrimitive(hMod, hCLL, PDU_COPT_SENDRECV, 0, nullptr, &ctrl, nullptr, &hCoP));
        return hCoP;
    }
    UNUM32 Now(UNUM32 hMod) {
        UNUM32 t = 0;
        EXPECT_EQ(0u, v_.GetTimestamp(hMod, &t));
        return t;
    }
    // Waits until the simulator's clock has passed t.
    void WaitUntil(UNUM32 hMod, UNUM32 t) {
        while (Now(hMod) < t) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Every frame waiting now.
    std::vector<Frame> Drain(UNUM32 hMod, UNUM32 hCLL) {
        std::vector<Frame> out;
        Frame f;
        while (Next(hMod, hCLL, &f)) out.push_back(f);
        return out;
    }
    bool Next(UNUM32 hMod, UNUM32 hCLL, Frame* f) {
        Bytes d;
        if (v_.NextEvent(hMod, hCLL, 0, &d, nullptr, nullptr, &f->timestamp) != PDU_IT_RESULT) return false;
        EXPECT_GE(d.size(), 8u);
        if (d.size() < 8) return false;
        f->id = uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3];
        f->seq = uint32_t(d[4]) << 24 | uint32_t(d[5]) << 16 | uint32_t(d[6]) << 8 | d[7];
        f->data.assign(d.begin() + 4, d.end());
        return true;
    }

private:
    VciSimLib& v_;
    VciSimGetTrafficCountsFn get_ = nullptr;
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace bus_test

using namespace bus_test;

// ---- traffic from other nodes -------------------------------------------------------------------

TEST(VciSimTraffic, FramesAtTheRateWithSequenceWhileAComPrimitiveReceives) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("traffic_rate", "[Traffic]\nRate=1000\nCanId=0x100\nIdCount=4\nDataLength=6\n"));
    Traffic t(v);
    UNUM32 hMod = v.OpenModule();
    UNUM32 raw = v.OpenLink(hMod, 0x300B0003);
    UNUM32 iso = v.OpenLink(hMod, 0x300B0001);
    // A send-only ComPrimitive receives nothing, and ISO 15765 links never see raw traffic.
    ASSERT_EQ(0u, v.Send(hMod, raw, HexToBytes("00000123 01"), 1000, 0));
    t.Listen(hMod, iso);
    t.WaitUntil(hMod, t.Now(hMod) + 10000);
    EXPECT_TRUE(t.Drain(hMod, raw).empty());
    EXPECT_EQ(0u, t.Of(raw).generated);

    UNUM32 before = t.Now(hMod);
    UNUM32 hCoP = t.Listen(hMod, raw);
    UNUM32 after = t.Now(hMod);
    T_PDU_STATUS st = 0;
    UNUM32 ts = 0, extra = 0;
    ASSERT_EQ(0u, v.GetStatus(hMod, raw, hCoP, &st, &ts, &extra));
    EXPECT_EQ(PDU_COPST_EXECUTING, st);
    t.WaitUntil(hMod, after + 60000);
    std::vector<Frame> frames = t.Drain(hMod, raw);
    ASSERT_GE(frames.size(), 60u);
    for (uint32_t k = 0; k < frames.size(); ++k) {
        const Frame& f = frames[k];
        ASSERT_EQ(k, f.seq);
        EXPECT_EQ(0x100u + k % 4, f.id);
        ASSERT_EQ(6u, f.data.size());
        EXPECT_EQ(uint8_t(~f.data[0]), f.data[4]);
        EXPECT_EQ(uint8_t(~f.data[1]), f.data[5]);
        if (k > 0) {
            EXPECT_EQ(1000u, f.timestamp - frames[k - 1].timestamp);  // 1000 frames per second
        }
    }
    EXPECT_GE(frames[0].timestamp - 1000, before);
    EXPECT_LE(frames[0].timestamp - 1000, after);
    Counts c = t.Of(raw);
    EXPECT_GE(c.generated, frames.size());
    EXPECT_EQ(frames.size(), c.delivered);
    EXPECT_EQ(0u, c.dropped);
    Counts all = t.Of(PDU_HANDLE_UNDEF);
    EXPECT_EQ(c.delivered, all.delivered);
    EXPECT_EQ(0u, t.Of(iso).generated);
    EXPECT_TRUE(t.Drain(hMod, iso).empty());

    // Cancelling the ComPrimitive stops the traffic; the next one goes on with the sequence.
    ASSERT_EQ(0u, v.CancelComPrimitive(hMod, raw, hCoP));
    ASSERT_EQ(0u, v.GetStatus(hMod, raw, hCoP, &st, &ts, &extra));
    EXPECT_EQ(PDU_COPST_CANCELLED, st);
    uint64_t stopped = t.Of(raw).generated;
    t.WaitUntil(hMod, t.Now(hMod) + 10000);
    EXPECT_EQ(stopped, t.Of(raw).generated);
    t.Listen(hMod, raw);
    t.WaitUntil(hMod, t.Now(hMod) + 5000);
    Frame f;
    ASSERT_TRUE(t.Next(hMod, raw, &f));
    EXPECT_EQ(stopped, f.seq);
    uint64_t a = 0, b = 0, d = 0;
    EXPECT_EQ(PDU_ERR_INVALID_HANDLE, t.Raw(4711, &a, &b, &d));
    EXPECT_EQ(PDU_ERR_INVALID_PARAMETERS, t.Raw(raw, &a, nullptr, &d));
    // The counts of a link go to the trace when it is disconnected.
    ASSERT_EQ(0u, v.Disconnect(hMod, raw));
    EXPECT_EQ(0u, v.Destruct());
    std::string trace = v.TraceText();
    EXPECT_TRUE(Contains(trace, "# traffic hCLL=" + std::to_string(raw) + " generated="));
    EXPECT_TRUE(Contains(trace, "type=SENDRECV time=0 send=0 recv=-1 size=0 data=null -> 0x0"));
    v.Unload();
}

TEST(VciSimTraffic, AFullQueueDropsTheOldestAndCountsThem) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("traffic_drop", "[General]\nRxQueueSize=20\n[Traffic]\nRate=1000\nIdCount=1\n"));
    Traffic t(v);
    UNUM32 hMod = v.OpenModule();
    UNUM32 raw = v.OpenLink(hMod, 0x300B0003);
    t.Listen(hMod, raw);
    t.WaitUntil(hMod, t.Now(hMod) + 100000);
    // Nobody read: the queue holds exactly its 20 newest frames.
    Counts full = t.Of(raw);
    EXPECT_GE(full.generated, 100u);
    EXPECT_EQ(full.generated - 20, full.dropped);
    EXPECT_EQ(0u, full.delivered);
    // The first frame read is one of the newest 20 at the time of the read.
    UNUM32 before = t.Now(hMod);
    Frame first;
    ASSERT_TRUE(t.Next(hMod, raw, &first));
    UNUM32 after = t.Now(hMod);
    UNUM32 start = first.timestamp - (first.seq + 1) * 1000;  // frame k arrives (k + 1) ms after the start
    EXPECT_GE(first.seq + 20, (before - start) / 1000);
    EXPECT_LE(first.seq + 20, (after - start) / 1000);
    std::vector<Frame> rest = t.Drain(hMod, raw);
    uint64_t missing = first.seq;  // every frame before the first read was dropped
    uint32_t last = first.seq;
    for (const Frame& f : rest) {
        ASSERT_GT(f.seq, last);
        missing += f.seq - last - 1;
        last = f.seq;
    }
    Counts c = t.Of(raw);
    EXPECT_EQ(1 + rest.size(), c.delivered);
    EXPECT_GE(c.dropped, missing);
    EXPECT_LE(c.generated - c.delivered - c.dropped, 20u);

    // The bound holds for every link's events: answers nobody reads are dropped, oldest first.
    UNUM32 iso = v.OpenLink(hMod, 0x300B0001);
    for (int i = 0; i < 25; ++i) ASSERT_EQ(0u, v.Send(hMod, iso, HexToBytes(i < 5 ? "000007E0 3E 00" : "000007E0 22 F1 87")));
    t.WaitUntil(hMod, t.Now(hMod) + 1000);
    Bytes d;
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, iso, 0, &d));
    EXPECT_EQ("00 00 07 E8 62 F1 87 56 53 30 30 30 31 41", BytesToHex(d));
    EXPECT_EQ(5u, t.Of(iso).dropped);
    EXPECT_EQ(0u, v.Destruct());
    EXPECT_TRUE(Contains(v.TraceText(), "# traffic hCLL=" + std::to_string(iso) + " generated=0 delivered=0 dropped=5\n"));
    v.Unload();
}

TEST(VciSimTraffic, FullBusLoadIsTimedByTheLinksBitRate) {
    // Classic frames of 8 bytes with 11-bit ids are 130.6 bit times in the bus model: 262 us at
    // 500 kbit/s (131 bit times), 523 us at 250 kbit/s; 29-bit ids 154.6 (310 us at 500 kbit/s).
    struct Case {
        const char* ini;
        UNUM32 baud;
        UNUM32 periodUs;
        uint32_t canId, idCount;
    };
    const Case cases[] = {{"[Traffic]\nRate=bus\n", 500000, 262, 0x100, 16},
                          {"[Traffic]\nRate=bus\n", 250000, 523, 0x100, 16},
                          {"[Traffic]\nRate=bus\nCanId=0x18DAF100\nIdCount=2\n", 500000, 310, 0x18DAF100, 2},
                          {"[Traffic]\nRate=bus\nDataLength=4\n", 500000, 185, 0x100, 16}};
    for (const Case& k : cases) {
        VciSimLib v;
        ASSERT_TRUE(v.Load("traffic_bus", k.ini));
        Traffic t(v);
        UNUM32 hMod = v.OpenModule();
        UNUM32 raw = v.OpenLink(hMod, 0x300B0003);
        ASSERT_EQ(0u, v.SetParam(hMod, raw, "CP_Baudrate", k.baud));
        UNUM32 before = t.Now(hMod);
        t.Listen(hMod, raw);
        UNUM32 after = t.Now(hMod);
        t.WaitUntil(hMod, after + 20000);
        std::vector<Frame> frames = t.Drain(hMod, raw);
        ASSERT_GE(frames.size(), 20000u / k.periodUs) << k.ini << k.baud;
        EXPECT_GE(frames[0].timestamp - k.periodUs, before);
        EXPECT_LE(frames[0].timestamp - k.periodUs, after);
        for (size_t i = 1; i < frames.size(); ++i)
            ASSERT_EQ(k.periodUs, frames[i].timestamp - frames[i - 1].timestamp) << k.ini << k.baud << " frame " << i;
        EXPECT_EQ(k.canId + frames.back().seq % k.idCount, frames.back().id);
        EXPECT_EQ(0u, v.Destruct());
        v.Unload();
    }
}

// ---- CAN FD --------------------------------------------------------------------------------------

TEST(VciSimCanFd, FdComParamsOnTheCanResourcesTheFamiliesMapForFd) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("canfd_resources", nullptr));
    UNUM32 hMod = v.OpenModule();
    auto accepts = [&](UNUM32 rid) {
        UNUM32 hCLL = v.OpenLink(hMod, rid);
        T_PDU_ERROR a = v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", 2000000);
        T_PDU_ERROR b = v.SetParam(hMod, hCLL, "CP_CANFDTxMaxDataLength", 64);
        EXPECT_EQ(a, b) << std::hex << rid;
        EXPECT_EQ(0u, v.DestroyComLogicalLink(hMod, hCLL));
        return a;
    };
    // ISO 15765 and raw CAN, high and low speed, of each family.
    for (UNUM32 rid : {0x300B0001u, 0x300B0003u, 0x300B0025u, 0x300B0027u, 0x30030001u, 0x30030003u, 0x30030025u,
                       0x30030027u, 0x30012001u, 0x30012003u, 0x30012101u, 0x30012103u})
        EXPECT_EQ(0u, accepts(rid)) << std::hex << rid;
    for (UNUM32 rid : {0x300C0001u, 0x30012111u, 0x300B0002u})
        EXPECT_EQ(PDU_ERR_COMPARAM_NOT_SUPPORTED, accepts(rid)) << std::hex << rid;
    // Data phase up to 5 Mbit/s, frame lengths of CAN FD only.
    UNUM32 hCLL = v.OpenLink(hMod, 0x300B0001);
    EXPECT_EQ(0u, v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", 5000000));
    EXPECT_EQ(PDU_ERR_VALUE_NOT_SUPPORTED, v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", 5000001));
    EXPECT_EQ(PDU_ERR_VALUE_NOT_SUPPORTED, v.SetParam(hMod, hCLL, "CP_CANFDTxMaxDataLength", 40));
    EXPECT_EQ(0u, v.Destruct());
    EXPECT_TRUE(Contains(v.TraceText(), "kind=iso15765fd rid=0x300B0001\n"));
    v.Unload();
}

TEST(VciSimCanFd, IsoTpOnAnIso15765LinkIsTimedAtTheDataRate) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("canfd_iso", "Timing=bus\n"));
    UNUM32 hMod = v.OpenModule();
    UNUM32 hCLL = v.OpenLink(hMod, 0x300B0001);
    ASSERT_EQ(0u, v.SetParam(hMod, hCLL, "CP_CANFDTxMaxDataLength", 64));
    Bytes write = HexToBytes("000007E0 2E F1 90");
    for (int i = 0; i < 3997; ++i) write.push_back(uint8_t(i));
    // 4000 bytes in a first frame and 63 consecutive frames of up to 64 bytes, and the ECU's flow
    // control: about 24.7 ms at 500 kbit/s and 2 Mbit/s (classic CAN would take about 150 ms),
    // about 14 ms at 4 Mbit/s.
    auto transfer = [&](UNUM32 dataBaud) {
        EXPECT_EQ(0u, v.SetParam(hMod, hCLL, "CP_CANFDBaudrate", dataBaud));
        UNUM32 before = 0, after = 0, answered = 0;
        EXPECT_EQ(0u, v.GetTimestamp(hMod, &before));
        EXPECT_EQ(0u, v.Send(hMod, hCLL, write, 2000));
        EXPECT_EQ(0u, v.GetTimestamp(hMod, &after));
        Bytes d;
        EXPECT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, hCLL, 2000, &d, nullptr, nullptr, &answered));
        EXPECT_EQ("00 00 07 E8 6E F1 90", BytesToHex(d));
        return std::make_pair(answered - after, answered - before);
    };
    auto at2 = transfer(2000000);
    EXPECT_LE(at2.first, 25500u);
    EXPECT_GE(at2.second, 24000u);
    auto at4 = transfer(4000000);
    EXPECT_LE(at4.first, 15000u);
    EXPECT_GE(at4.second, 13500u);
    // The 4000 bytes read back in one answer.
    ASSERT_EQ(0u, v.Send(hMod, hCLL, HexToBytes("000007E0 22 F1 90")));
    Bytes d;
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, hCLL, 2000, &d));
    Bytes expect = HexToBytes("000007E8 62");
    expect.insert(expect.end(), write.begin() + 5, write.end());
    EXPECT_EQ(expect, d);
    EXPECT_EQ(0u, v.Destruct());
    v.Unload();
}

TEST(VciSimCanFd, TheEcuSpeaksIsoTpInTheFormatOfTheRequest) {
    VciSimLib v;
    ASSERT_TRUE(v.Load("canfd_raw", nullptr));
    UNUM32 hMod = v.OpenModule();
    UNUM32 classic = v.OpenLink(hMod, 0x300B0027);
    UNUM32 fd = v.OpenLink(hMod, 0x300B0003);
    ASSERT_EQ(0u, v.SetParam(hMod, fd, "CP_CANFDBaudrate", 2000000));
    Bytes d;
    // The same 8-byte single frame: a classic request gets a classic first frame, a CAN FD one a
    // single frame in the escape form, padded to the frame length 24.
    ASSERT_EQ(0u, v.Send(hMod, classic, HexToBytes("000007E0 03 22 F1 90 00 00 00 00"), 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, classic, 1000, &d));
    EXPECT_EQ("00 00 07 E8 10 14 62 F1 90 57 56 53", BytesToHex(d));
    ASSERT_EQ(0u, v.Send(hMod, fd, HexToBytes("000007E0 03 22 F1 90 00 00 00 00"), 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    EXPECT_EQ(28u, d.size());
    EXPECT_EQ("00 00 07 E8 00 14 62 F1 90 57 56 53", BytesToHex(Bytes(d.begin(), d.begin() + 12)));
    EXPECT_EQ(0xAA, d.back());

    // A 200-byte request in 64-byte frames: first frame, the ECU's flow control, three
    // consecutive frames (the last, of 13 bytes, is sent padded to 16).
    Bytes value;
    for (int i = 0; i < 197; ++i) value.push_back(uint8_t(0x80 + i));
    Bytes request = HexToBytes("2E F1 90");
    request.insert(request.end(), value.begin(), value.end());
    Bytes ff = HexToBytes("000007E0 10 C8");
    ff.insert(ff.end(), request.begin(), request.begin() + 62);
    ASSERT_EQ(0u, v.Send(hMod, fd, ff, 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    EXPECT_EQ("00 00 07 E8 30 00 00 AA AA AA AA AA", BytesToHex(d));
    size_t at = 62;
    for (uint8_t sn = 1; at < request.size(); ++sn) {
        size_t n = std::min<size_t>(63, request.size() - at);
        Bytes cf = HexToBytes("000007E0");
        cf.push_back(uint8_t(0x20 | sn));
        cf.insert(cf.end(), request.begin() + at, request.begin() + at + n);
        at += n;
        ASSERT_EQ(0u, v.Send(hMod, fd, cf, 1000, 0));
    }
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    EXPECT_EQ("00 00 07 E8 03 6E F1 90 AA AA AA AA", BytesToHex(d));

    // Its 200-byte answer: a 64-byte first frame, then after the tester's flow control 62 + 63 +
    // 12 bytes in consecutive frames, the last padded to 16.
    ASSERT_EQ(0u, v.Send(hMod, fd, HexToBytes("000007E0 03 22 F1 90"), 1000, 0));
    ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
    ASSERT_EQ(68u, d.size());
    EXPECT_EQ("00 00 07 E8 10 C8 62 F1 90 80", BytesToHex(Bytes(d.begin(), d.begin() + 10)));
    Bytes answer(d.begin() + 6, d.end());
    ASSERT_EQ(0u, v.Send(hMod, fd, HexToBytes("000007E0 30 00 00"), 1000, 0));
    std::vector<size_t> sizes;
    for (uint8_t sn = 1; sn <= 3; ++sn) {
        ASSERT_EQ(PDU_IT_RESULT, v.NextEvent(hMod, fd, 1000, &d));
        EXPECT_EQ(0x20 | sn, d[4]);
        sizes.push_back(d.size() - 4);
        answer.insert(answer.end(), d.begin() + 5, d.end());
    }
    EXPECT_EQ((std::vector<size_t>{64, 64, 16}), sizes);
    answer.resize(200);
    Bytes expect = HexToBytes("62 F1 90");
    expect.insert(expect.end(), value.begin(), value.end());
    EXPECT_EQ(expect, answer);
    EXPECT_EQ(0u, v.NextEvent(hMod, fd, 10, &d));
    EXPECT_EQ(0u, v.Destruct());
    v.Unload();
}
