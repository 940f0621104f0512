// PassThruReadVersion and PassThruGetLastError: answered without touching the device.
#include <cstring>

#include "common/version.h"
#include "driver/api/api_impl.h"
#include "driver/api/last_error.h"

namespace {
constexpr size_t kTextBuffer = 80;

void CopyBounded(char* dst, const std::string& text) {
    size_t n = text.size() < kTextBuffer - 1 ? text.size() : kTextBuffer - 1;
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
}
}  // namespace

int32_t PassThruReadVersionImpl(uint32_t, char* pFirmwareVersion, char* pDllVersion, char* pApiVersion) {
    if (pFirmwareVersion) CopyBounded(pFirmwareVersion, ORVEX_PRODUCT_VERSION);
    if (pDllVersion) CopyBounded(pDllVersion, ORVEX_PRODUCT_VERSION);
    if (pApiVersion) CopyBounded(pApiVersion, "04.04");
    return j2534::STATUS_NOERROR;
}

int32_t PassThruGetLastErrorImpl(char* pErrorDescription) {
    if (!pErrorDescription) return j2534::ERR_NULL_PARAMETER;
    std::string text = LastErrorText();
    CopyBounded(pErrorDescription, text.empty() ? std::string("No error") : text);
    return j2534::STATUS_NOERROR;
}
