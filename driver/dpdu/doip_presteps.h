// DoIP I/O controls run through the D-PDU module: object-id lookup of an I/O control, and the
// Ethernet switch and discovery controls undone at module close and shutdown.
#pragma once

#include <atomic>
#include <cstdint>

// Set once the Ethernet activation line was switched on; only then is it switched off.
extern std::atomic<bool> g_ethSwitchOn;
// Cached object id of PDU_IOCTL_SET_ETH_SWITCH_STATE (0 = not looked up yet).
extern std::atomic<uint32_t> g_ethSwitchIoctlId;

bool GetIoctlId(const char* name, uint32_t* id);
void EthSwitchOff(uint32_t hMod);
void StopDiscovery(uint32_t hMod);
