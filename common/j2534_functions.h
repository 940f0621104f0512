// The fourteen J2534 04.04 entry points of a loaded library, for the programs and libraries that
// call a driver: the 02.02 adapter, hosts and tests.
#pragma once

#include <type_traits>

#include "common/j2534.h"

struct J2534Functions {
    PassThruOpenFn Open = nullptr;
    PassThruCloseFn Close = nullptr;
    PassThruConnectFn Connect = nullptr;
    PassThruDisconnectFn Disconnect = nullptr;
    PassThruReadMsgsFn ReadMsgs = nullptr;
    PassThruWriteMsgsFn WriteMsgs = nullptr;
    PassThruStartPeriodicMsgFn StartPeriodicMsg = nullptr;
    PassThruStopPeriodicMsgFn StopPeriodicMsg = nullptr;
    PassThruStartMsgFilterFn StartMsgFilter = nullptr;
    PassThruStopMsgFilterFn StopMsgFilter = nullptr;
    PassThruSetProgrammingVoltageFn SetProgrammingVoltage = nullptr;
    PassThruReadVersionFn ReadVersion = nullptr;
    PassThruGetLastErrorFn GetLastError = nullptr;
    PassThruIoctlFn Ioctl = nullptr;
};

// Binds every entry point by its undecorated name through lookup(name) -> void*; true when all
// fourteen were found (every lookup runs either way).
template <typename Lookup>
bool BindJ2534Functions(Lookup&& lookup, J2534Functions* f) {
    bool ok = true;
    auto bind = [&](const char* name, auto* out) {
        *out = reinterpret_cast<std::remove_pointer_t<decltype(out)>>(lookup(name));
        ok = ok && *out != nullptr;
    };
    bind("PassThruOpen", &f->Open);
    bind("PassThruClose", &f->Close);
    bind("PassThruConnect", &f->Connect);
    bind("PassThruDisconnect", &f->Disconnect);
    bind("PassThruReadMsgs", &f->ReadMsgs);
    bind("PassThruWriteMsgs", &f->WriteMsgs);
    bind("PassThruStartPeriodicMsg", &f->StartPeriodicMsg);
    bind("PassThruStopPeriodicMsg", &f->StopPeriodicMsg);
    bind("PassThruStartMsgFilter", &f->StartMsgFilter);
    bind("PassThruStopMsgFilter", &f->StopMsgFilter);
    bind("PassThruSetProgrammingVoltage", &f->SetProgrammingVoltage);
    bind("PassThruReadVersion", &f->ReadVersion);
    bind("PassThruGetLastError", &f->GetLastError);
    bind("PassThruIoctl", &f->Ioctl);
    return ok;
}
