// The ISO 15765 transmit translation per profile, and the CAN id put back on received payloads.
// There is no VCI here: when the translation asks for the ids to be set, they are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/big_endian.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/iso15765/iso15765.h"
#include "tests/support/scoped_log.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Translation : public ::testing::Test {
protected:
    void SetUp() override {
        savedConfig = g_config;
        log_.To(JoinPath(MakeScenarioDir("translation"), "driver.log"));
        session.UdsApduOnly = false;
        g_config.ISO15765.AssumeCanIdPrefix = true;
        g_config.DasIdPairs.clear();
        link.protocolId = 6;
        ch.comParamsEnabled = true;
        ch.isoTpIdsSet = true;  // ids already handed to the VCI at connect
    }
    void TearDown() override { g_config = savedConfig; }

    // The bytes the message would go to the VCI as.
    Bytes Tx(const Bytes& data, uint32_t txFlags = 0x40, int32_t* rc = nullptr) {
        std::memcpy(ResetTxMessage(&msg, static_cast<uint32_t>(data.size()), txFlags), data.data(), data.size());
        const Iso15765Rules rules = Iso15765RulesFor(g_config, session);
        int32_t code = PrepareIso15765Tx(link, ch, rules, msg, &plan);
        if (code == 0 && plan.setIds) code = CompleteIso15765Tx(false, ch, rules, msg, &plan);
        if (rc) *rc = code;
        if (code != 0 || plan.softwareIsoTp) return {};
        return Bytes(plan.bytes, plan.bytes + plan.length);
    }
    bool Restore(const Bytes& payload, uint8_t* data, uint32_t* size) {
        return RestoreRxCanId(link, ch, Iso15765RulesFor(g_config, session), payload.data(), payload.size(), data,
                              size);
    }
    std::string Log() const { return ReadFileText(log_.Path()); }
    bool Logged(const std::string& line) const { return Log().find(line + "\r\n") != std::string::npos; }

    DriverConfig savedConfig;
    ScopedLog log_;
    SessionProfile session;
    Iso15765Link link;
    Iso15765TxState ch;
    TxMessage msg;
    TxPlan plan;
};

const Bytes kSession = {0x00, 0x00, 0x07, 0xE0, 0x02, 0x10, 0x03};

}  // namespace

TEST_F(Translation, GenericRulesStripTheCanIdAndApplyUdsApduOnly) {
    EXPECT_EQ(Tx(kSession), (Bytes{0x02, 0x10, 0x03}));
    EXPECT_TRUE(Logged("ISO15765: CAN_ID_IN_DATA -> payload-only translation (stripped CAN-ID header)"));

    session.UdsApduOnly = true;
    EXPECT_EQ(Tx(kSession), (Bytes{0x02, 0x10, 0x03}));  // 0x10 is a known service: the PCI stays
    EXPECT_TRUE(Logged("ISO15765: UdsApduOnly enabled but message already contains ISO-TP PCI (SID=0x10). Keeping "
                       "PCI. (ISO15765 payload-only)"));
    EXPECT_EQ(Tx({0x00, 0x00, 0x07, 0xE0, 0x02, 0xAA, 0x03}), (Bytes{0xAA, 0x03}));
    EXPECT_TRUE(Logged("ISO15765: UdsApduOnly -> stripped ISO-TP PCI (ISO15765 payload-only)"));
    // A first frame of a whole CAN frame loses its two PCI bytes; a longer one stays.
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x10, 0x14, 0x2E, 0xF1, 0x90, 1, 2, 3}), (Bytes{0x2E, 0xF1, 0x90, 1, 2, 3}));
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x10, 0x14, 0x2E, 0xF1, 0x90}), (Bytes{0x10, 0x14, 0x2E, 0xF1, 0x90}));
    EXPECT_TRUE(Logged("ISO15765: UdsApduOnly -> payload-only buffer, no FF stripping (first=0x10) (ISO15765 payload-only)"));
    // Plain UDS bytes, and a PCI that announces more than there is, pass unchanged.
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}), (Bytes{0x22, 0xF1, 0x90}));
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x05, 0x22}), (Bytes{0x05, 0x22}));
}

TEST_F(Translation, HeaderRulesAndTheIdsTheyLearn) {
    // Without the flag the header is still recognised by its shape.
    EXPECT_EQ(Tx(kSession, 0), (Bytes{0x02, 0x10, 0x03}));
    EXPECT_EQ(ch.lastTxCanId, 0x7E0u);
    EXPECT_EQ(ch.expectedRxId, 0x7E8u);
    Tx({0, 0, 7, 0xDF, 0x01, 0x3E});
    EXPECT_EQ(ch.expectedRxId, 0x7E8u);
    Tx({0, 0, 7, 0xE3, 0x3E, 0x00});
    EXPECT_EQ(ch.expectedRxId, 0x7EBu);
    g_config.DasIdPairs = {{0x7A0, 0x7B0}};
    Tx({0, 0, 7, 0xA0, 0x3E, 0x00});
    EXPECT_EQ(ch.expectedRxId, 0x7B0u);

    // Switched off, a message without the flag goes out whole.
    g_config.ISO15765.AssumeCanIdPrefix = false;
    EXPECT_EQ(Tx(kSession, 0), kSession);
    EXPECT_TRUE(Logged("ISO15765: no CAN_ID_IN_DATA flag; sending full buffer"));
    // A header with the flag and nothing behind it is no message.
    int32_t rc = 0;
    Tx({0, 0, 7, 0xE0}, 0x40, &rc);
    EXPECT_EQ(rc, 0x0A);
}

TEST_F(Translation, ForcedPrefixWhenTheVciCannotTakeTheIds) {
    ch.comParamsEnabled = false;
    link.canIdInDataFallback = true;
    ch.isoTpTxId = 0x7E1;
    session.Oem = OemKind::VwOdis;  // keeps the full frame, so the prefix is visible
    EXPECT_EQ(Tx({0x22, 0xF1, 0x90}, 0), (Bytes{0, 0, 7, 0xE1, 0x22, 0xF1, 0x90}));
    EXPECT_TRUE(Logged("ISO15765: ComParams unavailable; forcing CAN_ID_IN_DATA prefix"));
    EXPECT_TRUE(Logged("ISO15765: VW/ODIS backend -> keeping full frame (no payload-only translation)"));
    EXPECT_FALSE(msg.headerFromHost);
}

TEST_F(Translation, ComParamsAreTriedOnceAndAFailureSwitchesThemOff) {
    ch.isoTpIdsSet = false;
    EXPECT_EQ(Tx(kSession), (Bytes{0x02, 0x10, 0x03}));
    EXPECT_TRUE(ch.comParamsTried);
    EXPECT_FALSE(ch.comParamsEnabled);
    EXPECT_EQ(ch.isoTpTxId, 0x7E0u);
    EXPECT_EQ(ch.isoTpRxId, 0x7E8u);
    EXPECT_TRUE(Logged("Dpdu_SetIso15765Ids failed; continuing with payload-only translation"));
}

TEST_F(Translation, XentryReplacesImplausibleTransmitIds) {
    session.XentryProfile = true;
    ch.isoTpIdsSet = false;
    Tx({0, 0, 1, 0x23, 0x3E, 0x00});
    EXPECT_TRUE(Logged("XENTRY: suspicious ISO15765 TX ID 0x123; using default 0x7E0"));
    EXPECT_EQ(ch.isoTpTxId, 0x7E0u);
}

TEST_F(Translation, DasRules) {
    session.DasProfile = true;
    // Ids configured and ComParams usable: an APDU of up to 7 bytes becomes a single frame.
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}), (Bytes{0, 0, 7, 0xE0, 0x03, 0x22, 0xF1, 0x90, 0, 0, 0, 0}));
    EXPECT_TRUE(Logged("ISO15765: DAS legacy synthesized ISO-TP SF (with CAN-ID header) from APDU (ComParams enabled)"));
    // With its PCI the frame goes as it is.
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x03, 0x22, 0xF1, 0x90}), (Bytes{0, 0, 7, 0xE0, 0x03, 0x22, 0xF1, 0x90}));
    EXPECT_TRUE(Logged("ISO15765: DAS legacy keeping full frame (ISO-TP PCI present)"));
    // Longer than a single frame and without PCI.
    const Bytes longApdu = {0, 0, 7, 0xE0, 0x2E, 0xF1, 0x90, 1, 2, 3, 4, 5};
    EXPECT_EQ(Tx(longApdu), longApdu);
    // ComParams off: the APDU alone.
    ch.comParamsEnabled = false;
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}), (Bytes{0x22, 0xF1, 0x90}));
    EXPECT_TRUE(Logged("ISO15765: DAS legacy ComParams disabled -> forwarding APDU-only (no CAN-ID header)"));
    // Payload-only fallback disabled: always the full frame.
    g_config.DAS.DisablePayloadOnlyFallback = true;
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}), (Bytes{0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}));
}

TEST_F(Translation, DasComParamFailureKeepsFullFramesOnlyForVwOdis) {
    session.DasProfile = true;
    ch.isoTpIdsSet = false;
    ch.expectedRxId = 0x7E8;
    session.Oem = OemKind::VwOdis;
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}), (Bytes{0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}));
    EXPECT_TRUE(Logged("Dpdu_SetIso15765Ids failed (tx=0x7E0, rx=0x7E8); disabling comparams"));
    EXPECT_TRUE(Logged("ISO15765: VW/ODIS comparam failure; keeping full frame (no payload-only fallback)"));
    // Tried once: the next message keeps the full frame without a second attempt.
    ch.comParamsEnabled = true;
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}), (Bytes{0, 0, 7, 0xE0, 0x22, 0xF1, 0x90}));
    EXPECT_TRUE(Logged("ISO15765: DAS legacy keeping full frame (comparams not configured)"));
}

TEST_F(Translation, DasRewritesFunctionalRequestsInTheCallersHeader) {
    session.DasProfile = true;
    g_config.DasIdPairs = {{0x7E2, 0x7EA}};
    Tx({0, 0, 7, 0xDF, 0x02, 0x3E, 0x00});
    EXPECT_TRUE(msg.headerRewritten);
    EXPECT_EQ(ReadBigEndian32(msg.data()), 0x7E2u);
    EXPECT_EQ(ch.lastTxCanId, 0x7E2u);
    EXPECT_EQ(ch.expectedRxId, 0x7EAu);
}

TEST_F(Translation, PcmflashStripsAnEmbeddedCanId) {
    session.PCMflash.PCMflashEnabled = true;
    session.PcmflashProfile = true;
    // Single frame: the four bytes after the PCI go, the length nibble follows.
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x06, 0x01, 0x00, 0x00, 0x07, 0x3E, 0x00}), (Bytes{0x02, 0x3E, 0x00}));
    EXPECT_TRUE(Logged("ISO15765: PCMflash stripped embedded CAN-ID in SF (len 6->2)"));
    // First frame: bytes 2..5 go and the total shrinks by four.
    EXPECT_EQ(Tx({0, 0, 7, 0xE0, 0x10, 0x20, 0x00, 0x00, 0x07, 0xE0, 0x36, 0x01}), (Bytes{0x10, 0x1C, 0x36, 0x01}));
    EXPECT_TRUE(Logged("ISO15765: PCMflash stripped embedded CAN-ID in FF (total->28)"));
}

TEST_F(Translation, SoftwareIsoTpChannelsStopAfterTheHeaderRules) {
    link.softwareIsoTp = true;
    std::memcpy(ResetTxMessage(&msg, 7, 0x40), kSession.data(), 7);
    ASSERT_EQ(PrepareIso15765Tx(link, ch, Iso15765RulesFor(g_config, session), msg, &plan), 0);
    EXPECT_TRUE(plan.softwareIsoTp);
    EXPECT_EQ(ch.expectedRxId, 0x7E8u);
    // ISO 15765 on CAN FD never uses software ISO-TP.
    link.protocolId = 9;
    Tx(kSession);
    EXPECT_FALSE(plan.softwareIsoTp);
}

TEST_F(Translation, RestoringTheCanIdOnReceive) {
    uint8_t data[j2534::kMaxDataSize];
    uint32_t size = 0;
    ch.expectedRxId = 0x7E8;
    ASSERT_TRUE(Restore({0x62, 0xF1, 0x90, 0x57}, data, &size));
    EXPECT_EQ(Bytes(data, data + size), (Bytes{0, 0, 7, 0xE8, 0x62, 0xF1, 0x90, 0x57}));
    // A payload that already carries a header is passed on and teaches the response id.
    ch.expectedRxId = 0;
    ASSERT_TRUE(Restore({0, 0, 7, 0xE9, 0x62, 0xF1}, data, &size));
    EXPECT_EQ(Bytes(data, data + size), (Bytes{0, 0, 7, 0xE9, 0x62, 0xF1}));
    EXPECT_EQ(ch.expectedRxId, 0x7E9u);
    EXPECT_TRUE(Logged("PassThruReadMsgs: backend returned CAN header in non-raw mode; forwarding as-is"));
    // Nothing learnt yet: a zero header.
    ch.expectedRxId = 0;
    ASSERT_TRUE(Restore({0x7E}, data, &size));
    EXPECT_EQ(Bytes(data, data + size), (Bytes{0, 0, 0, 0, 0x7E}));
    // Raw links and payloads too long for a header are passed as they are.
    const Bytes big(kMaxIsoTpPayload + 1, 0x55);
    ASSERT_TRUE(Restore(big, data, &size));
    EXPECT_EQ(size, kMaxIsoTpPayload + 1);
    link.rawMode = true;
    ASSERT_TRUE(Restore({0x62, 0x01}, data, &size));
    EXPECT_EQ(size, 2u);
}

TEST_F(Translation, DasDropsResponsesOfUnknownEcus) {
    session.DasProfile = true;
    g_config.DAS.DropOtherIsoTpRx = true;
    g_config.DasIdPairs = {{0x7E0, 0x7E8}};
    uint8_t data[j2534::kMaxDataSize];
    uint32_t size = 0;
    ch.expectedRxId = 0;  // the first pair's response id stands in
    ASSERT_TRUE(Restore({0x7E, 0x00}, data, &size));
    EXPECT_EQ(ReadBigEndian32(data), 0x7E8u);
    ch.expectedRxId = 0x7EB;
    EXPECT_FALSE(Restore({0x7E, 0x00}, data, &size));
}
