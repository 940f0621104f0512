// The OBD-II responder of the simulated ECUs, on a clock the test sets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/vcisim/vcisim_fixture.h"
#include "vcisim/ecu_uds.h"

namespace {

struct ObdEcu {
    uint64_t nowUs = 0;
    vcisim::DiagnosticEcu ecu;
    explicit ObdEcu(const vcisim::EcuConfig& c) : ecu(c, [this] { return nowUs; }) {}

    // Every answer message to the request, hex; kline: the K-Line ECU's message forms.
    std::vector<std::string> Ask(const char* hex, bool functional = false) {
        const std::vector<uint8_t> q = HexToBytes(hex);
        std::vector<std::string> out;
        for (const vcisim::EcuAnswer& a : ecu.Config().bus == vcisim::EcuBus::KLine ? ecu.HandleKwp(q, functional)
                                                                                      : ecu.HandleUds(q, functional))
            out.push_back(BytesToHex(a.payload));
        return out;
    }
    std::string One(const char* hex, bool functional = false) {
        std::vector<std::string> a = Ask(hex, functional);
        EXPECT_EQ(a.size(), 1u) << hex;
        return a.empty() ? std::string() : a.front();
    }
    // The value bytes of a service 01 PID, as a number.
    unsigned Pid(uint8_t pid) {
        char q[8];
        std::snprintf(q, sizeof q, "01 %02X", pid);
        std::vector<uint8_t> a = HexToBytes(One(q).c_str());
        unsigned v = 0;
        for (size_t i = 2; i < a.size(); ++i) v = v << 8 | a[i];
        return v;
    }
};

// The numbers a chain of supported-number bitmaps (service 01, 02 or 09) announces, read as a
// scan tool reads them: 00, then 20 when 00 says so, and so on.
std::set<unsigned> Announced(ObdEcu& e, const char* service, const char* frame) {
    std::set<unsigned> out;
    for (unsigned base = 0; base <= 0xE0; base += 0x20) {
        char q[16];
        std::snprintf(q, sizeof q, "%s %02X%s", service, base, frame);
        std::vector<uint8_t> a = HexToBytes(e.One(q).c_str());
        const size_t at = a.size() - 4;
        for (unsigned bit = 0; bit < 32; ++bit)
            if (a[at + bit / 8] & (0x80 >> (bit % 8))) out.insert(base + bit + 1);
        if (!out.count(base + 0x20)) break;
    }
    return out;
}

}  // namespace

TEST(EcuObd, SupportedNumbersAreExactlyTheAnsweredOnes) {
    ObdEcu engine(vcisim::DefaultEngineEcu()), gearbox(vcisim::DefaultTransmissionEcu());
    EXPECT_EQ(engine.One("01 00"), "41 00 98 1A 80 11");
    EXPECT_EQ(gearbox.One("01 00"), "41 00 80 08 00 00");
    // Service 01 and 09 of both, 02 (freeze frame) of the engine: every number 01-5F answers
    // exactly when the bitmaps announce it.
    struct Case {
        ObdEcu* ecu;
        const char* service;
        const char* frame;
        const char* positive;
    };
    for (const Case& c : {Case{&engine, "01", "", "41"}, Case{&gearbox, "01", "", "41"}, Case{&engine, "02", " 00", "42"},
                          Case{&engine, "09", "", "49"}, Case{&gearbox, "09", "", "49"}}) {
        const std::set<unsigned> announced = Announced(*c.ecu, c.service, c.frame);
        for (unsigned n = 1; n < 0x60; ++n) {
            if (n % 0x20 == 0) continue;
            char q[16];
            std::snprintf(q, sizeof q, "%s %02X%s", c.service, n, c.frame);
            EXPECT_EQ(c.ecu->One(q).rfind(c.positive, 0) == 0, announced.count(n) == 1) << q;
        }
    }
    EXPECT_EQ(Announced(engine, "09", ""), (std::set<unsigned>{0x02, 0x04, 0x0A}));
    EXPECT_EQ(Announced(gearbox, "09", ""), (std::set<unsigned>{0x02, 0x0A}));
    EXPECT_EQ(gearbox.One("02 00 00"), "7F 02 11");  // its subset has no freeze frame
}

TEST(EcuObd, UnsupportedRequestsAreSilentFunctionallyAndRefusedPhysically) {
    ObdEcu engine(vcisim::DefaultEngineEcu()), gearbox(vcisim::DefaultTransmissionEcu());
    EXPECT_EQ(engine.One("01 0A"), "7F 01 12");
    EXPECT_TRUE(engine.Ask("01 0A", true).empty());
    EXPECT_TRUE(gearbox.Ask("01 20", true).empty());  // no PID above 0x20: no bitmap 20 either
    EXPECT_EQ(gearbox.One("07"), "7F 07 11");
    EXPECT_TRUE(gearbox.Ask("07", true).empty());
    EXPECT_EQ(engine.One("03 00"), "7F 03 13");
    EXPECT_TRUE(engine.Ask("01 00 20 40 0C 0D 05 04", true).empty());  // seven PIDs: one too many
    // Several PIDs in one request: the supported ones, in order.
    engine.nowUs = 0;
    EXPECT_EQ(engine.One("01 0A 0D 05 46", true), "41 0D 00 05 3C 46 3E");  // standing, 20 °C, ambient 22 °C
}

TEST(EcuObd, LiveValuesFollowTheClockAndStayPlausible) {
    ObdEcu engine(vcisim::DefaultEngineEcu());
    unsigned coolantBefore = 0, samples = 0, moving = 0;
    std::set<unsigned> rpms;
    for (uint64_t s = 0; s <= 600; s += 7) {
        engine.nowUs = s * 1000000;
        const double rpm = engine.Pid(0x0C) / 4.0;
        const unsigned speed = engine.Pid(0x0D), coolant = engine.Pid(0x05);
        EXPECT_GE(rpm, 760);
        EXPECT_LE(rpm, 3300);
        EXPECT_LE(speed, 110u);
        EXPECT_GE(coolant, coolantBefore);  // warming up, never cooling down
        EXPECT_LE(coolant, 90u + 40);
        EXPECT_NEAR(engine.Pid(0x42) / 1000.0, 14.1, 0.06);
        coolantBefore = coolant;
        rpms.insert(unsigned(rpm));
        moving += speed > 0;
        ++samples;
    }
    EXPECT_GT(rpms.size(), samples / 2);
    EXPECT_GT(moving, samples / 2);
    EXPECT_GE(coolantBefore, 85u + 40);  // nearly warm after ten minutes
    // A pure function of the time: the same moment, the same answer; a moment later, another.
    engine.nowUs = 42123456;
    const std::string at = engine.One("01 0C 0D 04");
    EXPECT_EQ(engine.One("01 0C 0D 04"), at);
    engine.nowUs += 150000;
    EXPECT_NE(engine.One("01 0C"), at.substr(0, 11));
}

TEST(EcuObd, DtcsFreezeFrameAndTheirClearing) {
    ObdEcu engine(vcisim::DefaultEngineEcu()), gearbox(vcisim::DefaultTransmissionEcu());
    EXPECT_EQ(engine.One("01 01"), "41 01 82 07 65 00");  // MIL on, two DTCs, monitors complete
    EXPECT_EQ(gearbox.One("01 01"), "41 01 81 04 00 00");
    EXPECT_EQ(engine.One("03"), "43 02 01 23 C1 41");  // P0123, U0141
    EXPECT_EQ(gearbox.One("03"), "43 01 07 00");         // P0700
    EXPECT_EQ(engine.One("07"), "47 01 01 23");          // only P0123 is pending
    EXPECT_EQ(engine.One("0A"), "4A 01 01 23");
    EXPECT_EQ(engine.One("02 02 00"), "42 02 00 01 23");
    // The freeze frame holds the values of the moment the DTC was set, whatever the time now.
    engine.nowUs = 37000000;
    const std::string rpm = engine.One("01 0C").substr(6), speed = engine.One("01 0D").substr(6);
    engine.nowUs = 99000000;
    EXPECT_EQ(engine.One("02 0C 00 0D 00"), "42 0C 00 " + rpm + " 0D 00 " + speed);
    EXPECT_EQ(engine.One("02 0C 01"), "7F 02 12");  // frame 1 does not exist

    EXPECT_EQ(engine.One("04"), "44");
    EXPECT_EQ(engine.One("03"), "43 00");
    EXPECT_EQ(engine.One("07"), "47 00");
    EXPECT_EQ(engine.One("0A"), "4A 01 01 23");  // permanent DTCs outlive the clearing
    EXPECT_EQ(engine.One("01 01"), "41 01 00 07 65 65");  // MIL off, monitors incomplete again
    EXPECT_EQ(engine.One("02 02 00"), "42 02 00 00 00");
    EXPECT_EQ(engine.One("02 0C 00"), "7F 02 12");  // no freeze frame any more
    EXPECT_EQ(gearbox.One("03"), "43 01 07 00");     // each ECU clears its own
}

TEST(EcuObd, VehicleInformationOnCanAndKLine) {
    ObdEcu engine(vcisim::DefaultEngineEcu()), kline(vcisim::DefaultKLineEcu());
    const std::string vin = "57 56 53 49 4D 30 30 30 30 30 30 30 30 30 30 30 31";  // WVSIM000000000001
    EXPECT_EQ(engine.One("09 02"), "49 02 01 " + vin);
    EXPECT_EQ(engine.One("09 04"), "49 04 01 56 53 49 4D 2D 45 43 4D 2D 43 41 4C 30 30 30 31");
    EXPECT_EQ(engine.One("09 0A"), "49 0A 01 45 43 4D 00 2D 45 6E 67 69 6E 65 43 6F 6E 74 72 6F 6C 00 00");
    EXPECT_EQ(engine.One("09 01"), "7F 09 12");  // message counts exist on K-Line only

    // K-Line: four bytes a message, the VIN with three zeros in front; DTCs three a message.
    EXPECT_EQ(kline.One("09 00"), "49 00 01 F0 C0 00 00");  // with the message counts 01, 03, 09
    EXPECT_EQ(kline.One("09 01"), "49 01 05");
    EXPECT_EQ(kline.Ask("09 02"), (std::vector<std::string>{"49 02 01 00 00 00 57", "49 02 02 56 53 49 4D",
                                                             "49 02 03 30 30 30 30", "49 02 04 30 30 30 30",
                                                             "49 02 05 30 30 30 31"}));
    EXPECT_EQ(kline.One("03"), "43 01 23 C1 41 00 00");
    EXPECT_EQ(kline.Ask("01 0C 0D", true).size(), 0u);  // one PID a request on K-Line
    EXPECT_EQ(kline.One("01 00"), "41 00 98 1A 80 11");
    EXPECT_EQ(kline.One("22 F1 90"), "7F 22 11");  // still a KWP2000 ECU otherwise
}
