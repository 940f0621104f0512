// The D-PDU backend as the J2534 layer sees it: start-up and module selection, logical
// links, ISO 15765 ComParams, send and receive, battery voltage, and the shared flags.
// Module ids and link ids handed out here are driver-side counters starting at 1, never the
// vendor's handles. Operations return a DpduResult: what happened, in the classes the J2534
// layer decides on, the D-PDU code behind it, and the text for its log and last error. D-PDU
// error codes in texts are "0x" + lower-case hex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/j2534.h"
#include "driver/config/session_profile.h"

enum class DpduStatus : uint8_t {
    Ok,
    Timeout,       // nothing arrived in the time given
    CommLost,      // the VCI is gone: the backend has marked it lost
    DeviceBusy,    // the module is held by another application (its connect answered 0x01)
    NoModule,      // no VCI module showed up
    NotSupported,  // the VCI cannot do what was asked (CAN FD)
    Failed,        // anything else
};

struct DpduResult {
    DpduStatus status = DpduStatus::Ok;
    uint32_t code = 0;  // the D-PDU error code behind a failure, 0 when there is none
    std::string text;   // empty on success, and for a plain time-out

    bool ok() const { return status == DpduStatus::Ok; }
};
inline DpduResult DpduFailure(DpduStatus status, const std::string& text, uint32_t code = 0) {
    return DpduResult{status, code, text};
}

// Loads the vendor library and constructs the D-PDU API; a call while constructed only adds
// a user. Lowers the closing flag.
DpduResult Dpdu_Init();
// Probes, selects and connects one VCI module (may shut down and re-initialise the API when
// no module shows up).
DpduResult Dpdu_OpenModule(uint32_t* moduleId);
// Closes the module's links and disconnects it. Raises the closing flag.
DpduResult Dpdu_CloseModule(uint32_t moduleId);
// Drops one user; the last one tears down links, modules and (unless the session keeps the
// toolkit loaded, or forceUnload) the API and the vendor library. Raises the closing flag.
void Dpdu_Shutdown(bool forceUnload = false);
// The session's KeepToolkitLoaded, which every later shutdown follows.
void Dpdu_SetKeepToolkitLoaded(bool keep);
// At process exit, from the unload hook: takes no lock and calls nothing of the vendor's. The
// session's note goes with the process (on POSIX its name would outlive it).
void Dpdu_ProcessEnding();
// Records the loss of the VCI once per initialisation; place may be null.
void MarkCommLost(const char* place, uint32_t code);

// Creates and connects a ComLogicalLink for the logical-link name; protocolId is the J2534
// protocol of the channel (CAN FD protocols switch off some fallbacks).
DpduResult Dpdu_OpenLink(uint32_t moduleId, const std::string& logicalLinkName, uint32_t protocolId,
                         uint32_t* linkId);
DpduResult Dpdu_CloseLink(uint32_t linkId);
// Before a DoIP connection: the Ethernet activation line (with its retries and settle time)
// and a vehicle identification request, on the DoIP entity module when the VCI offers one.
DpduResult Dpdu_RunDoipPreSteps(uint32_t moduleId);
// False for an unknown link id.
bool Dpdu_GetLinkRawMode(uint32_t linkId, bool* rawMode);

// Hands the ISO 15765 request and response CAN ids to the VCI; true when both were accepted.
bool Dpdu_SetIso15765Ids(uint32_t linkId, uint32_t txId, uint32_t rxId);
// Sets one 32-bit ComParam by its short name; returns the D-PDU error code.
uint32_t SetComParamByName(uint32_t hMod, uint32_t hCLL, const char* name, uint32_t value);

// How the session wants its messages sent.
struct DpduSendMode {
    bool sendRecv = true;           // [J2534] WriteUsesSendRecv: a send also takes one answer
    bool iso15765SendRecv = false;  // ...on ISO 15765 links only when the profile wants that
    bool udsApduOnly = true;        // single frames lose their PCI where the link takes payloads
    bool xentryProfile = false;     // the Orvex VCI then takes the APDU behind the CAN id
};
DpduSendMode DpduSendModeFor(const SessionProfile& session);

// Starts one send ComPrimitive; does not wait for it to finish.
DpduResult Dpdu_Send(uint32_t linkId, const uint8_t* data, uint32_t length, uint32_t timeoutMs,
                     const DpduSendMode& mode);
// One received result: its bytes as far as a J2534 message holds them, and its whole length.
struct DpduPayload {
    uint8_t bytes[j2534::kMaxDataSize];
    uint32_t length = 0;  // may exceed sizeof bytes: the rest was not kept
    uint64_t receivedUs = 0;  // when it was taken off the link, on platform::MonotonicUs
    uint32_t kept() const { return length < sizeof bytes ? length : static_cast<uint32_t>(sizeof bytes); }
};
// Polls the link until one result with data arrives or the time runs out (Timeout, with a text
// only when no-response events were seen).
DpduResult Dpdu_Receive(uint32_t linkId, DpduPayload* out, uint32_t timeoutMs);
// One result with data that the link already holds, without waiting or sleeping: Timeout when
// its event queue holds none.
DpduResult Dpdu_TakeReady(uint32_t linkId, DpduPayload* out);
DpduResult Dpdu_ReadVBatt(uint32_t moduleId, uint32_t* milliVolts);

// Shared flags.
bool Dpdu_IsInitialised();
bool Dpdu_IsCommLost();
// The closing (teardown) flag: raised by close and shutdown so that concurrent link creation
// stops early; the J2534 layer raises and lowers it around its own cleanup.
bool Dpdu_IsClosing();
void Dpdu_SetClosing(bool raised);
