// PassThruIoctl and PassThruSetProgrammingVoltage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/protocols.h"
#include "driver/api/api_impl.h"
#include "driver/api/config_once.h"
#include "driver/api/device.h"
#include "driver/api/filters.h"
#include "driver/api/last_error.h"
#include "driver/api/periodic.h"
#include "driver/api/host_message.h"
#include "driver/bench/bench.h"
#include "driver/config/driver_config.h"
#include "driver/config/host_profile.h"
#include "driver/log/log.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"

namespace {

// Below this a "pointer" in a configuration list is a host passing one SCONFIG instead.
constexpr uintptr_t kLowestPointer = 0x10000;
constexpr uint32_t kMostListParams = 256;
constexpr uint8_t kDefaultKeyAddress = 0x33;

int32_t Ok() {
    SetLastErrorText("OK");
    return j2534::STATUS_NOERROR;
}

int32_t InputNotReadable() {
    SetLastErrorText("PassThruIoctl: input not readable");
    return j2534::ERR_NULL_PARAMETER;
}

int32_t OutputNotWritable() {
    SetLastErrorText("PassThruIoctl: output not writable");
    return j2534::ERR_NULL_PARAMETER;
}


// The protocol of a connected channel; 0 for an unknown one.
uint32_t ChannelProtocol(uint32_t channelId) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    const ChannelContext* ch = FindChannel(channelId);
    return ch ? ch->protocolId : 0;
}

// ---- GET_CONFIG and SET_CONFIG -----------------------------------------------------------------

// One parameter. SET stores it on the channel (when there is one) and gives the value back; GET
// gives its value, looking parameters without a meaning of their own up among the stored ones
// only when storedToo is set.
uint32_t ConfigParameter(uint32_t channelId, bool set, uint32_t parameter, uint32_t value, bool storedToo) {
    if (!set && parameter == j2534::IGNITION_SENSE) return IgnitionConfigValue();
    std::lock_guard<std::mutex> lock(g_deviceLock);
    ChannelContext* ch = FindChannel(channelId);
    if (set) {
        if (!ch) return value;
        ch->configValues[parameter] = value;
        if (parameter == j2534::DATA_RATE) ch->dataRate = value;
        if (parameter == j2534::ISO15765_BS) ch->isoBs = static_cast<uint8_t>(value);
        if (parameter == j2534::ISO15765_STMIN) ch->isoStMin = static_cast<uint8_t>(value);
        if (parameter == j2534::ISO15765_PARAM_20) ch->param20 = static_cast<uint8_t>(value);
        return value;
    }
    if (parameter == j2534::DATA_RATE) return ch ? ch->dataRate : 0;
    if (parameter == j2534::LOOPBACK || !ch || !storedToo) return 0;
    const auto it = ch->configValues.find(parameter);
    return it == ch->configValues.end() ? 0 : it->second;
}

// A host that passes one SCONFIG where a list belongs: its two words are the parameter and the
// value. SET answers both, GET the value, in the output's first words.
int32_t ConfigSingle(uint32_t channelId, bool set, const j2534::SCONFIG& in, void* pOutput) {
    const uint32_t value = ConfigParameter(channelId, set, in.Parameter, in.Value, false);
    if (pOutput) {
        const j2534::SCONFIG answer{in.Parameter, value};
        const bool written = set ? platform::CopyGuarded(pOutput, &answer, sizeof answer) : WriteHostWord(pOutput, value);
        if (!written) return OutputNotWritable();
    }
    return Ok();
}

// The answers go to the output list (the input list itself without one), whose empty fields take
// the input's array and count. Only as many entries as that list holds are written.
int32_t ConfigList(uint32_t channelId, bool set, const j2534::SCONFIG_LIST& in, void* pOutput) {
    if (in.NumOfParams == 0) return j2534::ERR_NULL_PARAMETER;
    std::vector<j2534::SCONFIG> params(in.NumOfParams);
    if (!platform::CopyGuarded(params.data(), in.ConfigPtr, params.size() * sizeof(j2534::SCONFIG)))
        return InputNotReadable();
    j2534::SCONFIG_LIST out = in;
    if (pOutput) {
        if (!platform::CopyGuarded(&out, pOutput, sizeof out)) return OutputNotWritable();
        const bool fill = !out.ConfigPtr || out.NumOfParams == 0;
        if (!out.ConfigPtr) out.ConfigPtr = in.ConfigPtr;
        if (out.NumOfParams == 0) out.NumOfParams = in.NumOfParams;
        if (fill && !platform::CopyGuarded(pOutput, &out, sizeof out)) return OutputNotWritable();
    }
    for (uint32_t i = 0; i < in.NumOfParams; ++i) {
        const j2534::SCONFIG answer{params[i].Parameter,
                                    ConfigParameter(channelId, set, params[i].Parameter, params[i].Value, true)};
        if (i < out.NumOfParams && !platform::CopyGuarded(out.ConfigPtr + i, &answer, sizeof answer))
            return OutputNotWritable();
    }
    return Ok();
}

int32_t ConfigIoctl(uint32_t channelId, bool set, void* pInput, void* pOutput) {
    if (!pInput) return j2534::ERR_NULL_PARAMETER;
    // The count word first: one beyond any list's length is the parameter of a single SCONFIG,
    // which on a 64-bit host may end where a list's pointer begins; only its own bytes are read.
    uint32_t first = 0;
    if (!ReadHostWord(pInput, &first)) return InputNotReadable();
    j2534::SCONFIG single;
    j2534::SCONFIG_LIST list{};
    if (first <= kMostListParams && platform::CopyGuarded(&list, pInput, sizeof list) &&
        reinterpret_cast<uintptr_t>(list.ConfigPtr) >= kLowestPointer)
        return ConfigList(channelId, set, list, pOutput);
    if (!platform::CopyGuarded(&single, pInput, sizeof single)) return InputNotReadable();
    return ConfigSingle(channelId, set, single, pOutput);
}

// ---- READ_VBATT ----------------------------------------------------------------------------

// A connected module to ask, bringing the backend up as a connect does (without its retries);
// false when there is none. After a loss of the VCI the traffic paths' back-off recovers it.
bool ModuleForVbatt(uint32_t* moduleHandle) {
    std::lock_guard<std::mutex> lock(g_deviceLock);
    if (!g_device.isOpen || Dpdu_IsCommLost()) return false;
    const bool initialised = g_device.backendInitialized && Dpdu_IsInitialised();
    if (initialised && g_device.moduleConnected && g_device.moduleHandle != 0) {
        *moduleHandle = g_device.moduleHandle;
        return true;
    }
    if (!initialised && !InitBackendLocked().ok()) return false;
    uint32_t module = 0;
    if (!Dpdu_OpenModule(&module).ok() || module == 0) {
        Dpdu_Shutdown();
        ForgetBackendLocked();
        return false;
    }
    AdoptModuleLocked(module);
    *moduleHandle = module;
    return true;
}

int32_t ReadVbatt(void* pOutput) {
    if (!pOutput) return j2534::ERR_NULL_PARAMETER;
    uint32_t value = FallbackVbatt(g_device.lastVbatt);
    uint32_t module = 0;
    bool noEcuMode;
    {
        std::lock_guard<std::mutex> lock(g_deviceLock);
        noEcuMode = g_device.session.NoEcuMode;
    }
    if (VbattFromSettings(noEcuMode)) {
        // the configured value, without asking the VCI
    } else if (!ModuleForVbatt(&module)) {
        SetLastErrorText("Device not connected (VBATT fallback)");
    } else {
        uint32_t reading = 0;
        const DpduResult read = Dpdu_ReadVBatt(module, &reading);
        if (!read.ok())
            SetLastErrorText(read.text.empty() ? "READ_VBATT failed (fallback used)" : read.text);
        else if (VbattPlausible(reading))
            value = reading;
    }
    g_device.lastVbatt = value;
    return WriteHostWord(pOutput, value) ? j2534::STATUS_NOERROR : OutputNotWritable();
}

// ---- K-Line initialisation -------------------------------------------------------------------

int32_t FiveBaudInit(uint32_t channelId, void* pInput, void* pOutput) {
    if (!j2534::IsKLineProtocol(ChannelProtocol(channelId))) {
        WriteLogLine("PassThruIoctl FIVE_BAUD_INIT on non-K-Line channel -> ERR_INVALID_IOCTL_ID");
        return j2534::ERR_INVALID_IOCTL_ID;
    }
    uint8_t address = kDefaultKeyAddress;
    j2534::SBYTE_ARRAY in{};
    uint8_t first = 0;
    if (pInput && platform::CopyGuarded(&in, pInput, sizeof in) && in.NumOfBytes > 0 &&
        platform::CopyGuarded(&first, in.BytePtr, 1) && first != 0)
        address = first;
    if (pOutput && !WriteHostWord(pOutput, 1)) return OutputNotWritable();
    LogPrintf("PassThruIoctl FIVE_BAUD_INIT (K-Line) -> NO-OP (STATUS_NOERROR) addr=0x%02X", address);
    return Ok();
}

int32_t FastInit(uint32_t channelId, void* pOutput) {
    if (!j2534::IsKLineProtocol(ChannelProtocol(channelId))) {
        WriteLogLine("PassThruIoctl FAST_INIT on non-K-Line channel -> ERR_INVALID_IOCTL_ID");
        return j2534::ERR_INVALID_IOCTL_ID;
    }
    {
        // Detection writes the session, which connect reads under the lock.
        std::lock_guard<std::mutex> lock(g_deviceLock);
        DetectHostProfileLocked();
    }
    if (IsPcmflashHost()) {
        WriteLogLine("[Compat] PCMflash FAST_INIT on K-Line -> ERR_INVALID_IOCTL_ID");
        return j2534::ERR_INVALID_IOCTL_ID;
    }
    WriteLogLine("PassThruIoctl FAST_INIT (K-Line) -> NO-OP (STATUS_NOERROR)");
    if (pOutput && !WriteHostWord(pOutput, 1)) return OutputNotWritable();
    return j2534::STATUS_NOERROR;
}

// What a clear removed on a channel (none for an unknown channel: removed below 0).
int32_t Cleared(const char* ioctlName, uint32_t channelId, int removed) {
    if (removed >= 0)
        LogPrintf("PassThruIoctl %s: ch=%lu removed=%d", ioctlName, static_cast<unsigned long>(channelId), removed);
    return Ok();
}

}  // namespace

int32_t PassThruIoctlImpl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    LoadDriverConfig();
    char line[128];
    std::snprintf(line, sizeof line, "PassThruIoctl(Channel=%lu, IoctlID=%lu)", static_cast<unsigned long>(ChannelID),
                  static_cast<unsigned long>(IoctlID));
    WriteLogLine(line);
    {
        std::lock_guard<std::mutex> lock(g_deviceLock);
        int32_t rc = CheckDeviceOpen(0, "PassThruIoctl");
        if (rc != j2534::STATUS_NOERROR) return rc;
    }
    switch (IoctlID) {
        case j2534::GET_CONFIG:
        case j2534::SET_CONFIG: return ConfigIoctl(ChannelID, IoctlID == j2534::SET_CONFIG, pInput, pOutput);
        case j2534::READ_VBATT: return ReadVbatt(pOutput);
        case j2534::FIVE_BAUD_INIT: return FiveBaudInit(ChannelID, pInput, pOutput);
        case j2534::FAST_INIT: return FastInit(ChannelID, pOutput);
        case j2534::CLEAR_PERIODIC_MSGS:
            return Cleared("CLEAR_PERIODIC_MSGS", ChannelID, ClearPeriodicMsgs(ChannelID));
        case j2534::CLEAR_MSG_FILTERS: return Cleared("CLEAR_MSG_FILTERS", ChannelID, ClearHostFilters(ChannelID));
        case j2534::READ_PROG_VOLTAGE:
            if (!pOutput) return j2534::ERR_NULL_PARAMETER;
            if (!WriteHostWord(pOutput, g_device.programmingVoltage)) return OutputNotWritable();
            return Ok();
        case j2534::IGNITION_SENSE: {
            const uint32_t state = IgnitionSense();
            if (pOutput && !WriteHostWord(pOutput, state)) return OutputNotWritable();
            return Ok();
        }
        default: return Ok();  // CLEAR_TX_BUFFER, CLEAR_RX_BUFFER and ids without a meaning here
    }
}

int32_t PassThruSetProgrammingVoltageImpl(uint32_t, uint32_t, uint32_t Voltage) {
    SetLastErrorText("OK");
    g_device.programmingVoltage = Voltage;
    WriteLogLine("PassThruSetProgrammingVoltage (store-only)");
    return j2534::STATUS_NOERROR;
}
