// DoIP through the D-PDU module: the Ethernet activation line, vehicle identification, the
// DoIP entity module that may appear after it, the DoIP link's creation, and the controls
// undone at module close and shutdown. Every I/O control goes through the crash guard at
// module level (hCLL undefined) without an output item.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

bool GetIoctlId(const char* name, uint32_t* id);
bool SetEthSwitch(uint32_t hMod, uint32_t state);
// Honours SkipEthSwitchIoctl and EthSwitchToggle (off, pause, on).
bool EthSwitchOn(uint32_t hMod);
void EthSwitchOff(uint32_t hMod);
// Honours the configured skips, which count as success.
bool VehicleIdRequest(uint32_t hMod);
// The module whose name marks it as a DoIP entity, connected and registered once; false
// when the vendor lists none.
bool OpenDoipEntityModule(uint32_t* hMod);
void StopDiscovery(uint32_t hMod);

// The DoIP part of Dpdu_OpenLink up to the connect: pre-steps, the DoIP resource at run time
// and the creation ladder. *hMod comes back as the module the link was created on.
bool CreateDoipLink(uint32_t* hMod, uint32_t configuredId, uint8_t* flagData, uint32_t* hCLL, uint32_t* usedId,
                    std::string* error);
