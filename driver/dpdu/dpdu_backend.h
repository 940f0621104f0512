// The D-PDU backend as the J2534 layer sees it: start-up and module selection, logical
// links, ISO 15765 ComParams, send and receive, battery voltage, and the shared flags.
// Module ids and link ids handed out here are driver-side counters starting at 1, never the
// vendor's handles. Operations return a success flag and fill the out error text on failure
// (cleared on success); D-PDU error codes in texts are "0x" + lower-case hex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Loads the vendor library and constructs the D-PDU API; a call while constructed only adds
// a user. Lowers the closing flag.
bool Dpdu_Init(std::string* error);
// Probes, selects and connects one VCI module (may shut down and re-initialise the API when
// no module shows up).
bool Dpdu_OpenModule(uint32_t* moduleId, std::string* error);
// Closes the module's links and disconnects it. Raises the closing flag.
bool Dpdu_CloseModule(uint32_t moduleId, std::string* error);
// Drops one user; the last one tears down links, modules and (unless KeepToolkitLoaded, or
// forceUnload) the API and the vendor library. Raises the closing flag.
void Dpdu_Shutdown(bool forceUnload = false);
// Records the loss of the VCI once per initialisation; place may be null.
void MarkCommLost(const char* place, uint32_t code);

// Creates and connects a ComLogicalLink for the logical-link name; protocolId is the J2534
// protocol of the channel (CAN FD protocols switch off some fallbacks).
bool Dpdu_OpenLink(uint32_t moduleId, const std::string& logicalLinkName, uint32_t protocolId, uint32_t* linkId,
                   std::string* error);
bool Dpdu_CloseLink(uint32_t linkId, std::string* error);
// Before a DoIP connection: the Ethernet activation line (with its retries and settle time)
// and a vehicle identification request, on the DoIP entity module when the VCI offers one.
bool Dpdu_RunDoipPreSteps(uint32_t moduleId, std::string* error);
// False for an unknown link id.
bool Dpdu_GetLinkRawMode(uint32_t linkId, bool* rawMode);

// Hands the ISO 15765 request and response CAN ids to the VCI; true when both were accepted.
bool Dpdu_SetIso15765Ids(uint32_t linkId, uint32_t txId, uint32_t rxId);
// Sets one 32-bit ComParam by its short name; returns the D-PDU error code.
uint32_t SetComParamByName(uint32_t hMod, uint32_t hCLL, const char* name, uint32_t value);

// Starts one send ComPrimitive; does not wait for it to finish.
bool Dpdu_Send(uint32_t linkId, const uint8_t* data, uint32_t length, uint32_t timeoutMs, std::string* error);
// Polls the link until one result with data arrives (true) or the time runs out (false, the
// error text empty unless no-response events were seen).
bool Dpdu_Receive(uint32_t linkId, std::vector<uint8_t>* out, uint32_t timeoutMs, std::string* error);
bool Dpdu_ReadVBatt(uint32_t moduleId, uint32_t* milliVolts, std::string* error);

// Shared flags.
bool Dpdu_IsInitialised();
bool Dpdu_IsCommLost();
// The closing (teardown) flag: raised by close and shutdown so that concurrent link creation
// stops early; the J2534 layer raises and lowers it around its own cleanup.
bool Dpdu_IsClosing();
void Dpdu_SetClosing(bool raised);
