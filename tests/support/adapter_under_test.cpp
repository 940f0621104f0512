#include "tests/support/adapter_under_test.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/driver_under_test.h"
#include "tests/support/temp_dir.h"

namespace {
template <typename Fn>
bool Bind(void* lib, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(platform::GetLibrarySymbol(lib, name));
    return *out != nullptr;
}
}  // namespace

std::string AdapterFileName() { return std::string("Orvex_J2534_0202") + platform::SharedLibrarySuffix(); }

bool LoadAdapterCopy(AdapterUnderTest* a, const std::string& dir, const std::string& fileName) {
    a->dir = dir;
    std::string target = JoinPath(dir, fileName);
    if (!CopyFileTo(JoinPath(TestBinDir(), AdapterFileName()), target)) {
        ADD_FAILURE() << "cannot copy the adapter to " << target;
        return false;
    }
    a->handle = platform::LoadLibraryFile(target);
    if (!a->handle) {
        ADD_FAILURE() << "cannot load " << target;
        return false;
    }
    void* lib = a->handle;
    bool ok = Bind(lib, "PassThruConnect", &a->Connect) & Bind(lib, "PassThruDisconnect", &a->Disconnect) &
              Bind(lib, "PassThruReadMsgs", &a->ReadMsgs) & Bind(lib, "PassThruWriteMsgs", &a->WriteMsgs) &
              Bind(lib, "PassThruStartPeriodicMsg", &a->StartPeriodicMsg) &
              Bind(lib, "PassThruStopPeriodicMsg", &a->StopPeriodicMsg) &
              Bind(lib, "PassThruStartMsgFilter", &a->StartMsgFilter) &
              Bind(lib, "PassThruStopMsgFilter", &a->StopMsgFilter) &
              Bind(lib, "PassThruSetProgrammingVoltage", &a->SetProgrammingVoltage) &
              Bind(lib, "PassThruReadVersion", &a->ReadVersion) & Bind(lib, "PassThruGetLastError", &a->GetLastError) &
              Bind(lib, "PassThruIoctl", &a->Ioctl);
    if (!ok) ADD_FAILURE() << "an export is missing from " << target;
    return ok;
}

void UnloadAdapterCopy(AdapterUnderTest* a) {
    platform::FreeLibraryFile(a->handle);
    a->handle = nullptr;
}

std::string AdapterUnderTest::LastError() const {
    char buf[80] = {0};
    GetLastError(buf);
    return buf;
}
