// A copy of the built 02.02 adapter in a scenario folder, loaded through the OS loader with its
// exports looked up by name.
#pragma once

#include <string>

#include "common/j2534.h"

// The twelve J2534 02.02 entry points.
extern "C" {
using Pt0202ConnectFn = long(J2534_API*)(j2534::ULONG ProtocolID, j2534::ULONG Flags, j2534::ULONG* pChannelID);
using Pt0202SetProgrammingVoltageFn = long(J2534_API*)(j2534::ULONG PinNumber, j2534::ULONG Voltage);
using Pt0202ReadVersionFn = long(J2534_API*)(char* pFirmwareVersion, char* pDllVersion, char* pApiVersion);
}

struct AdapterUnderTest {
    std::string dir;
    void* handle = nullptr;

    Pt0202ConnectFn Connect = nullptr;
    PassThruDisconnectFn Disconnect = nullptr;
    PassThruReadMsgsFn ReadMsgs = nullptr;
    PassThruWriteMsgsFn WriteMsgs = nullptr;
    PassThruStartPeriodicMsgFn StartPeriodicMsg = nullptr;
    PassThruStopPeriodicMsgFn StopPeriodicMsg = nullptr;
    PassThruStartMsgFilterFn StartMsgFilter = nullptr;
    PassThruStopMsgFilterFn StopMsgFilter = nullptr;
    Pt0202SetProgrammingVoltageFn SetProgrammingVoltage = nullptr;
    Pt0202ReadVersionFn ReadVersion = nullptr;
    PassThruGetLastErrorFn GetLastError = nullptr;
    PassThruIoctlFn Ioctl = nullptr;

    std::string LastError() const;
};

// Copies the built adapter into dir as fileName and loads it. Fails the current test (and
// returns false) when the copy cannot be loaded or lacks an export.
bool LoadAdapterCopy(AdapterUnderTest* a, const std::string& dir, const std::string& fileName);
void UnloadAdapterCopy(AdapterUnderTest* a);
// "Orvex_J2534_0202" plus this platform's library suffix.
std::string AdapterFileName();
