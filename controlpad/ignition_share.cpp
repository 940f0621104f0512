#include "controlpad/ignition_share.h"

#include <initializer_list>

IgnitionShare OpenIgnitionShare() {
    IgnitionShare share;
    for (const wchar_t* name : {L"Global\\Orvex_IgnitionState", L"Orvex_IgnitionState"}) {
        share.mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), name);
        if (share.mapping) break;
    }
    if (!share.mapping) return share;
    share.value = static_cast<volatile LONG*>(MapViewOfFile(share.mapping, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    if (!share.value) CloseIgnitionShare(&share);
    return share;
}

void StoreIgnition(const IgnitionShare& share, bool on) {
    if (share.value) InterlockedExchange(share.value, on ? 1 : 0);
}

void CloseIgnitionShare(IgnitionShare* share) {
    if (share->value) UnmapViewOfFile(const_cast<LONG*>(share->value));
    if (share->mapping) CloseHandle(share->mapping);
    *share = IgnitionShare{};
}
