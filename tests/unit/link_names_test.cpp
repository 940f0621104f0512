// Logical-link names: built-in names, [LogicalLinkMappings] look-up order and the ISO 15765 check.
#include <gtest/gtest.h>

#include <string>

#include "common/j2534.h"
#include "driver/api/link_names.h"
#include "driver/config/driver_config.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {
class LinkNames : public ::testing::Test {
protected:
    void SetUp() override { saved = g_config; }
    void TearDown() override { g_config = saved; }
    void UseIni(const std::string& text) {
        g_config.IniPath = JoinPath(MakeScenarioDir("linknames"), "Orvex_J2534.ini");
        platform::WriteWholeFile(g_config.IniPath, text);
    }
    DriverConfig saved;
    SessionProfile session;
};
}  // namespace

TEST_F(LinkNames, DefaultsPerProtocol) {
    EXPECT_EQ(DefaultLinkName(j2534::ISO9141), "KLine");
    EXPECT_EQ(DefaultLinkName(j2534::ISO14230), "KLine");
    EXPECT_EQ(DefaultLinkName(j2534::CAN), "CanRawHS");
    EXPECT_EQ(DefaultLinkName(j2534::ISO15765), "ISO15765HS");
    EXPECT_EQ(DefaultLinkName(8), "ISO15765HS");
    EXPECT_EQ(DefaultLinkName(j2534::ISO15765_FD_ALT), "ISO15765FD");
    EXPECT_EQ(DefaultLinkName(j2534::ISO15765_FD), "ISO15765FD");
    EXPECT_EQ(DefaultLinkName(j2534::SCI_A_TRANS), "CanFd");
    EXPECT_EQ(DefaultLinkName(j2534::CAN_FD), "CanFd");
    EXPECT_EQ(DefaultLinkName(j2534::DOIP), "DoIP");
    EXPECT_EQ(DefaultLinkName(j2534::DOIP_ALT), "DoIP");
    EXPECT_EQ(DefaultLinkName(j2534::J1850VPW), "");
    EXPECT_EQ(DefaultLinkName(13), "");
}

TEST_F(LinkNames, WithoutMappingsTheDefaultIsUsed) {
    UseIni("[Other]\nCAN=Foo\n");
    EXPECT_EQ(LinkNameFor(j2534::CAN, 500000, session), "CanRawHS");
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 500000, session), "ISO15765HS");
    EXPECT_EQ(LinkNameFor(13, 500000, session), "");
}

TEST_F(LinkNames, ExactBaudBeatsKiloBeatsBareKey) {
    UseIni("[LogicalLinkMappings]\nCAN=BareCan\nCAN_250k=KiloCan\nCAN_250000=ExactCan\nCAN_125k=  Spaced\t \n");
    EXPECT_EQ(LinkNameFor(j2534::CAN, 250000, session), "ExactCan");
    EXPECT_EQ(LinkNameFor(j2534::CAN, 125000, session), "Spaced");
    EXPECT_EQ(LinkNameFor(j2534::CAN, 83333, session), "BareCan");  // not a whole number of k
    EXPECT_EQ(LinkNameFor(j2534::CAN, 999, session), "BareCan");
}

TEST_F(LinkNames, EmptyValueFallsThroughToTheNextKey) {
    UseIni("[LogicalLinkMappings]\nCAN_500000=\nCAN_500k=   \nCAN=Bare\n");
    EXPECT_EQ(LinkNameFor(j2534::CAN, 500000, session), "Bare");
}

TEST_F(LinkNames, Iso15765MustNameAnIsoTpLink) {
    UseIni("[LogicalLinkMappings]\nISO15765_500k=CanRawHS\nISO15765_250k=my_isotp_link\nISO15765_125k=Iso15765LS\n");
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 500000, session), "ISO15765");
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 250000, session), "my_isotp_link");
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 125000, session), "Iso15765LS");
    // Protocol 8 shares the key but not the check.
    UseIni("[LogicalLinkMappings]\nISO15765=CanRawHS\n");
    EXPECT_EQ(LinkNameFor(8, 500000, session), "CanRawHS");
}

TEST_F(LinkNames, PcmflashKwpOnCanKeyUnlessDas) {
    UseIni("[LogicalLinkMappings]\nKWP2000CAN=Kwp2000CanHS\nISO15765=ISO15765HS_X\n");
    session.PCMflash.PCMflashEnabled = true;
    session.PcmflashProfile = true;
    session.PCMflash.UseKwpOnCan = true;
    // "Kwp2000CanHS" names no ISO-TP link, so the ISO 15765 check replaces it.
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 500000, session), "ISO15765");
    UseIni("[LogicalLinkMappings]\nKWP2000CAN=Kwp2000CanISOTP\nISO15765=ISO15765HS_X\n");
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 500000, session), "Kwp2000CanISOTP");
    session.DasProfile = true;
    EXPECT_EQ(LinkNameFor(j2534::ISO15765, 500000, session), "ISO15765HS_X");
}
