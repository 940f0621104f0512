// The traffic capture of whole host sessions, read back from the file: the VCI's ISO-TP, the
// driver's own ISO-TP, a CAN channel, a DoIP session; a file cut short, rotation, a folder that
// cannot be written. Where tshark is installed (native build) it dissects the file as well.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/platform.h"
#include "tests/support/loopback_gateway.h"
#include "tests/support/pcapng_reader.h"
#include "tests/support/traffic_fixture.h"

namespace {

const std::string kCaptureIni = "[Capture]\nEnabled=1\nFile=capture.pcapng\n";
const char kRawCanTransport[] = "[Profile]\nMode=PCMFLASH\n[PCMflash]\nPCMflashEnabled=1\nForceRawCan=1\n";

struct Message {
    uint32_t interfaceIndex = 0;
    bool out = false;
    std::string dissector;
    Bytes payload;
    std::string comment;
    uint64_t time = 0;
};

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Every packet of an exported-PDU interface as a message.
std::vector<Message> Messages(const PcapngFile& f) {
    std::vector<Message> out;
    for (const PcapngPacket& p : f.packets) {
        if (f.interfaces[p.interfaceIndex].linkType != 252) continue;
        Message m;
        std::string payload;
        EXPECT_TRUE(SplitExportedPdu(p.data, &m.dissector, &payload));
        m.interfaceIndex = p.interfaceIndex;
        m.out = p.flags == 2;
        m.payload = ToBytes(payload);
        m.comment = p.comment;
        m.time = p.time;
        out.push_back(m);
    }
    return out;
}

struct Frame {
    bool out = false;
    SocketCanFrame can;
    std::string comment;
    uint64_t time = 0;
};

std::vector<Frame> Frames(const PcapngFile& f, uint32_t interfaceIndex) {
    std::vector<Frame> out;
    for (const PcapngPacket& p : f.packets) {
        if (p.interfaceIndex != interfaceIndex) continue;
        Frame fr;
        EXPECT_TRUE(SplitSocketCan(p.data, &fr.can));
        fr.out = p.flags == 2;
        fr.comment = p.comment;
        fr.time = p.time;
        out.push_back(fr);
    }
    return out;
}

bool StartsWith(const Bytes& b, const std::string& hex) {
    const Bytes h = HexBytes(hex);
    return b.size() >= h.size() && std::equal(h.begin(), h.end(), b.begin());
}

// tshark's output for the file with the options, or nothing (the test skipped) without tshark.
bool Tshark(const std::string& file, const std::string& options, std::string* output) {
#ifdef _WIN32
    (void)file, (void)options, (void)output;
    return false;
#else
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) return false;
    const std::string out = file + ".tshark.txt";
    const std::string command = "tshark -r '" + file + "' " + options + " >'" + out + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFileText(out);
    *output = ReadFileText(out);
    return true;
#endif
}

class Capture : public TrafficTest {
protected:
    std::string Path() const { return JoinPath(d.dir, "capture.pcapng"); }
    PcapngFile Read() const {
        PcapngFile f = ReadPcapng(ReadFileText(Path()));
        EXPECT_EQ(f.error, "");
        EXPECT_EQ(f.trailingBytes, 0u);
        return f;
    }
    // A UDS request and its answer (negative answers "response pending" skipped).
    Bytes Ask(j2534::ULONG ch, const std::string& header, const Bytes& request) {
        Bytes data = HexBytes(header);
        data.insert(data.end(), request.begin(), request.end());
        EXPECT_EQ(Write(ch, {MakeMsg(6, data, j2534::ISO15765_FRAME_PAD)}, nullptr, 2000), 0) << d.LastError();
        Bytes answer;
        EXPECT_EQ(TrafficTest::Read(ch, &answer, 2000), 0) << d.LastError();
        return answer;
    }
    // VIN, DTCs and a 4,000-byte download, as a host runs them on an ISO 15765 channel.
    void Session(j2534::ULONG ch) {
        EXPECT_EQ(Ask(ch, "00 00 07 E0", HexBytes("22 F1 90")), VinAnswer());
        EXPECT_TRUE(StartsWith(Ask(ch, "00 00 07 E0", HexBytes("19 02 FF")), "00 00 07 E8 59 02"));
        EXPECT_TRUE(StartsWith(Ask(ch, "00 00 07 E0", HexBytes("10 02")), "00 00 07 E8 50 02"));
        EXPECT_TRUE(StartsWith(Ask(ch, "00 00 07 E0", HexBytes("34 00 44 00 00 00 00 00 00 0F A0")),
                               "00 00 07 E8 74 20"));
        Bytes block = HexBytes("36 01");
        block.resize(2 + 4000, 0xA5);
        EXPECT_EQ(Ask(ch, "00 00 07 E0", block), HexBytes("00 00 07 E8 76 01"));
        EXPECT_EQ(Ask(ch, "00 00 07 E0", HexBytes("37")), HexBytes("00 00 07 E8 77"));
    }
};

}  // namespace

TEST_F(Capture, VciIsoTpAndCanChannelsInOneFile) {
    const uint64_t before = platform::MonotonicUs();
    Start(kCaptureIni);
    const uint32_t iso = Connect(6);
    const uint32_t can = Connect(5);
    Session(iso);
    ASSERT_EQ(Send(can, 5, "00 00 07 E0 02 3E 00", 0), 0);
    j2534::PASSTHRU_MSG answer{};
    j2534::ULONG n = 1;
    ASSERT_EQ(d.ReadMsgs(can, &answer, &n, 500), 0);
    // A periodic tester present of the driver's, seen once at least.
    j2534::PASSTHRU_MSG periodic = MakeMsg(5, HexBytes("00 00 07 DF 02 3E 80"));
    j2534::ULONG periodicId = 0;
    ASSERT_EQ(d.StartPeriodicMsg(can, &periodic, &periodicId, 5), 0);
    platform::SleepMs(30);
    Finish();
    const uint64_t after = platform::MonotonicUs();
    EXPECT_NE(d.LogText().find("Capture: writing "), std::string::npos);

    const PcapngFile f = Read();
    ASSERT_EQ(f.sections, 1u);
    ASSERT_EQ(f.interfaces.size(), 2u);
    EXPECT_EQ(f.interfaces[0].name, "ch1 ISO15765 500000");
    EXPECT_EQ(f.interfaces[0].linkType, 252);
    EXPECT_EQ(f.interfaces[1].name, "ch2 CAN 500000");
    EXPECT_EQ(f.interfaces[1].linkType, 227);
    for (const PcapngInterface& i : f.interfaces) EXPECT_EQ(i.tsResolution, 6);

    // Every packet in time order, stamped with the driver's clock within the session.
    uint64_t last = before;
    for (const PcapngPacket& p : f.packets) {
        EXPECT_GE(p.time, last);
        last = p.time;
    }
    EXPECT_LE(last, after);

    const std::vector<Message> messages = Messages(f);
    ASSERT_EQ(messages.size(), 12u);
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].out, i % 2 == 0) << i;
        EXPECT_EQ(messages[i].dissector, "uds");
        EXPECT_EQ(messages[i].comment, i % 2 == 0 ? "CAN id 0x7E0" : "CAN id 0x7E8") << i;
    }
    EXPECT_EQ(messages[0].payload, HexBytes("22 F1 90"));
    const Bytes vin = VinAnswer();
    EXPECT_EQ(messages[1].payload, Bytes(vin.begin() + 4, vin.end()));
    EXPECT_EQ(messages[8].payload.size(), 4002u);
    EXPECT_EQ(messages[9].payload, HexBytes("76 01"));

    const std::vector<Frame> frames = Frames(f, 1);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_TRUE(frames[0].out);
    EXPECT_EQ(frames[0].can.id, 0x7E0u);
    EXPECT_FALSE(frames[0].can.extended || frames[0].can.fd);
    EXPECT_EQ(ToBytes(frames[0].can.data), HexBytes("02 3E 00"));
    EXPECT_FALSE(frames[1].out);
    EXPECT_EQ(frames[1].can.id, 0x7E8u);
    EXPECT_EQ(j2534::TimestampFromUs(frames[1].time), answer.Timestamp);  // the host's stamp, to the µs
    EXPECT_EQ(frames[2].comment, "periodic message by the driver");
    EXPECT_EQ(frames[2].can.id, 0x7DFu);

    std::string dissected;
    if (!Tshark(Path(), "-V", &dissected)) return;
    EXPECT_EQ(dissected.find("WARNING"), std::string::npos) << dissected.substr(0, 2000);
    EXPECT_NE(dissected.find("Data Identifier: 0xf190"), std::string::npos);
    EXPECT_NE(dissected.find("Data Record: 575653494d303030303030303030303031"), std::string::npos);  // the VIN
    EXPECT_NE(dissected.find("Transfer Data"), std::string::npos);
    EXPECT_NE(dissected.find("(0x7e8)"), std::string::npos);
    EXPECT_NE(dissected.find("Direction: Inbound"), std::string::npos);

    // A host killed in the middle of a block leaves a file that still opens up to it.
    std::string bytes = ReadFileText(Path());
    bytes.resize(bytes.size() - 10);
    const std::string cut = JoinPath(d.dir, "cut.pcapng");
    std::FILE* file = std::fopen(cut.c_str(), "wb");
    ASSERT_TRUE(file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    const PcapngFile partial = ReadPcapng(bytes);
    EXPECT_EQ(partial.error, "");
    EXPECT_EQ(partial.packets.size() + 1, f.packets.size());
    EXPECT_GT(partial.trailingBytes, 0u);
#ifndef _WIN32
    EXPECT_EQ(std::system(("tshark -r '" + cut + "' >/dev/null 2>&1; test $? -le 2").c_str()), 0);
#endif
}

TEST_F(Capture, SoftwareIsoTpShowsEveryFrameAndTheFlowControls) {
    Start(kRawCanTransport + kCaptureIni);
    const j2534::ULONG ch = Connect(6);
    Session(ch);
    Finish();
    const PcapngFile f = Read();
    ASSERT_EQ(f.interfaces.size(), 1u);
    EXPECT_EQ(f.interfaces[0].name, "ch1 ISO15765 500000");
    EXPECT_EQ(f.interfaces[0].linkType, 227);
    const std::vector<Frame> frames = Frames(f, 0);
    ASSERT_GE(frames.size(), 4u);
    EXPECT_TRUE(frames[0].out);
    EXPECT_EQ(frames[0].can.id, 0x7E0u);
    EXPECT_EQ(ToBytes(frames[0].can.data), HexBytes("03 22 F1 90 00 00 00 00"));
    EXPECT_FALSE(frames[1].out);
    EXPECT_EQ(frames[1].can.id, 0x7E8u);
    EXPECT_EQ(ToBytes(frames[1].can.data).at(0), 0x10);
    EXPECT_TRUE(frames[2].out);
    EXPECT_EQ(ToBytes(frames[2].can.data).at(0), 0x30);
    EXPECT_EQ(frames[2].comment, "automatic flow control by the driver");
    // The ECU's flow control during the download comes in; the 4,000 bytes take 572 frames.
    size_t ecuFlowControls = 0, outFrames = 0;
    for (const Frame& fr : frames) {
        if (!fr.out && fr.can.id == 0x7E8 && !fr.can.data.empty() && uint8_t(fr.can.data[0]) == 0x30) ++ecuFlowControls;
        outFrames += fr.out;
    }
    EXPECT_GE(ecuFlowControls, 1u);
    EXPECT_GE(outFrames, 572u);

    std::string dissected;
    // The two "Decode As" settings the README gives.
    if (!Tshark(Path(), "-d can.subdissector=iso15765 -d iso15765.subdissector=uds", &dissected)) return;
    EXPECT_NE(dissected.find("Read Data By Identifier                0xf190   57 56 53 49 4d"), std::string::npos)
        << dissected.substr(0, 2000);
    EXPECT_NE(dissected.find("Flow control"), std::string::npos);
    EXPECT_NE(dissected.find("Transfer Data"), std::string::npos);
}

TEST_F(Capture, DoipSessionNamesTheGatewayAndTheAddresses) {
    std::unique_ptr<doipsim::Gateway> gateway = StartLoopbackGateway();
    ASSERT_TRUE(gateway);
    const std::string port = std::to_string(gateway->TcpPort());
    Start(kCaptureIni + "[DoIP]\nNativeDoIP=1\nNativeTargetIp=127.0.0.1\nNativeTargetPort=" + port +
          "\nNativeDst=0x1010\nDiscoveryAddress=127.0.0.1\nDiscoveryBroadcast=127.0.0.1\n");
    j2534::ULONG ch = 0;
    ASSERT_EQ(d.Connect(dev, j2534::DOIP, 0, 0, &ch), 0) << d.LastError();
    ASSERT_EQ(Write(ch, {MakeMsg(j2534::DOIP, HexBytes("22 F1 90"))}, nullptr, 1000), 0) << d.LastError();
    Bytes answer;
    ASSERT_EQ(TrafficTest::Read(ch, &answer, 2000), 0) << d.LastError();
    Finish();
    gateway.reset();
    const PcapngFile f = Read();
    ASSERT_EQ(f.interfaces.size(), 1u);
    EXPECT_EQ(f.interfaces[0].name, "ch1 DoIP 127.0.0.1:" + port);
    const std::vector<Message> messages = Messages(f);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].payload, HexBytes("22 F1 90"));
    EXPECT_EQ(messages[0].comment, "DoIP 0x0E80 -> 0x1010");
    EXPECT_FALSE(messages[1].out);
    EXPECT_EQ(messages[1].comment, "DoIP 0x1010 -> 0x0E80");
    EXPECT_EQ(messages[1].payload, answer);
}

TEST_F(Capture, RotationKeepsTheNewestFiles) {
    Start("[Capture]\nEnabled=1\nFile=capture.pcapng\nMaxSizeKB=1\nKeep=3\n");
    const uint32_t ch = Connect(6);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Ask(ch, "00 00 07 E0", HexBytes("22 F1 90")), VinAnswer());
    Finish();
    std::vector<std::string> names;
    ASSERT_TRUE(platform::ListDirectory(d.dir, &names));
    size_t captures = 0;
    for (const std::string& name : names) {
        if (name.compare(0, 7, "capture") != 0) continue;
        ++captures;
        const PcapngFile f = ReadPcapng(ReadFileText(JoinPath(d.dir, name)));
        EXPECT_EQ(f.error, "") << name;
        EXPECT_EQ(f.blockTypes.at(0), 0x0A0D0D0Au) << name;
        EXPECT_LE(ReadFileText(JoinPath(d.dir, name)).size(), 1024u) << name;
    }
    EXPECT_EQ(captures, 3u);
}

TEST_F(Capture, FolderThatCannotBeWrittenLeavesTheSessionWorking) {
    // The INI file stands where the capture's folder would be.
    Start("[Capture]\nEnabled=1\nFile=Orvex_J2534.ini/capture.pcapng\n");
    const uint32_t ch = Connect(6);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Ask(ch, "00 00 07 E0", HexBytes("22 F1 90")), VinAnswer());
    Finish();
    const std::string log = d.LogText();
    const std::string line = "capture.pcapng; capture off for this session";
    ASSERT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line));
}
