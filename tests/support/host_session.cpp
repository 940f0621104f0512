#include "tests/support/host_session.h"

#include <cstdio>

#include "tests/support/messages.h"

namespace {

struct Recorder {
    const J2534Functions& f;
    HostSession& s;

    int32_t Note(const std::string& name, int32_t rc) {
        HostCall call{name, rc, {}};
        if (rc != j2534::STATUS_NOERROR) {
            char text[80] = {0};
            f.GetLastError(text);
            call.error = text;
        }
        s.calls.push_back(call);
        return rc;
    }

    // Writes one message and reads until an answer that starts with answerHead comes.
    bool Exchange(const char* what, uint32_t channel, const j2534::PASSTHRU_MSG& request, const Bytes& answerHead,
                  uint32_t readTimeoutMs) {
        j2534::PASSTHRU_MSG out = request;
        j2534::ULONG n = 1;
        if (Note(std::string("PassThruWriteMsgs(") + what + ")", f.WriteMsgs(channel, &out, &n, 100)) != 0) return false;
        for (int i = 0; i < 3; ++i) {
            j2534::PASSTHRU_MSG in = {};
            n = 1;
            const int32_t rc = Note(std::string("PassThruReadMsgs(") + what + ")", f.ReadMsgs(channel, &in, &n, readTimeoutMs));
            if (rc != j2534::STATUS_NOERROR && rc != j2534::ERR_TIMEOUT && rc != j2534::ERR_BUFFER_EMPTY) return false;
            if (rc != j2534::STATUS_NOERROR || n != 1) continue;
            if (in.DataSize > j2534::kMaxDataSize || in.ProtocolID != request.ProtocolID) {
                s.calls.push_back({std::string("malformed message (") + what + ")", -1, {}});
                return false;
            }
            const Bytes data = DataOf(in);
            if (data.size() >= answerHead.size() && Bytes(data.begin(), data.begin() + answerHead.size()) == answerHead)
                return true;
        }
        return false;
    }
};

}  // namespace

HostSession RunHostSession(const J2534Functions& f, uint32_t readTimeoutMs) {
    HostSession s;
    Recorder r{f, s};
    j2534::ULONG dev = 0;
    if (r.Note("PassThruOpen", f.Open(nullptr, &dev)) != 0) return s;
    j2534::ULONG iso = 0, can = 0;
    const bool isoUp = r.Note("PassThruConnect(ISO15765)", f.Connect(dev, j2534::ISO15765, 0, 500000, &iso)) == 0;
    const bool canUp = r.Note("PassThruConnect(CAN)", f.Connect(dev, j2534::CAN, 0, 500000, &can)) == 0;
    if (isoUp) {
        j2534::PASSTHRU_MSG mask = MakeMsg(j2534::ISO15765, HexBytes("FF FF FF FF"));
        j2534::PASSTHRU_MSG pattern = MakeMsg(j2534::ISO15765, HexBytes("00 00 07 E8"));
        j2534::PASSTHRU_MSG flowControl = MakeMsg(j2534::ISO15765, HexBytes("00 00 07 E0"));
        j2534::ULONG filterId = 0;
        r.Note("PassThruStartMsgFilter", f.StartMsgFilter(iso, j2534::FLOW_CONTROL_FILTER, &mask, &pattern,
                                                          &flowControl, &filterId));
    }
    if (canUp) {
        // A functional tester present that asks for no answer.
        j2534::PASSTHRU_MSG present = MakeMsg(j2534::CAN, HexBytes("00 00 07 DF 02 3E 80 00 00 00 00 00"));
        j2534::ULONG msgId = 0;
        r.Note("PassThruStartPeriodicMsg", f.StartPeriodicMsg(can, &present, &msgId, 100));
    }
    if (isoUp)
        s.vinAnswered = r.Exchange("VIN", iso, MakeMsg(j2534::ISO15765, HexBytes("00 00 07 E0 22 F1 90"),
                                                       j2534::ISO15765_FRAME_PAD),
                                   HexBytes("00 00 07 E8 62 F1 90"), readTimeoutMs);
    if (canUp)
        s.canAnswered = r.Exchange("CAN", can, MakeMsg(j2534::CAN, HexBytes("00 00 07 E0 02 3E 00 00 00 00 00 00")),
                                   HexBytes("00 00 07 E8 02 7E 00"), readTimeoutMs);
    if (isoUp) r.Note("PassThruDisconnect(ISO15765)", f.Disconnect(iso));
    if (canUp) r.Note("PassThruDisconnect(CAN)", f.Disconnect(can));
    r.Note("PassThruClose", f.Close(dev));
    return s;
}

std::string HostSession::Describe() const {
    std::string out;
    for (const HostCall& c : calls) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%X", static_cast<unsigned>(c.rc));
        out += "  " + c.name + " -> " + code + (c.error.empty() ? "" : " \"" + c.error + "\"") + "\n";
    }
    return out;
}

namespace {
// Until filters and periodic messages are built, their start calls answer ERR_FAILED; make them
// strict once they are.
bool ToleratedForNow(const HostCall& c) {
    return c.rc == j2534::ERR_FAILED && (c.name == "PassThruStartMsgFilter" || c.name == "PassThruStartPeriodicMsg");
}

// A read that found nothing within its time-out has not failed.
bool ReadWithoutAnswer(const HostCall& c) {
    return c.name.rfind("PassThruReadMsgs", 0) == 0 && (c.rc == j2534::ERR_TIMEOUT || c.rc == j2534::ERR_BUFFER_EMPTY);
}

bool Failed(const HostCall& c) { return c.rc != 0 && !ToleratedForNow(c) && !ReadWithoutAnswer(c); }
}  // namespace

std::string SessionFailure(const HostSession& s) {
    bool ok = s.vinAnswered && s.canAnswered && !s.calls.empty() && s.calls.back().name == "PassThruClose";
    for (const HostCall& c : s.calls)
        if (Failed(c)) ok = false;
    return ok ? std::string() : "the session did not go through:\n" + s.Describe();
}

std::string FaultedSessionFailure(const HostSession& s) {
    for (const HostCall& c : s.calls)
        if (c.rc < 0 || c.rc > j2534::ERR_INVALID_DEVICE_ID) return "a code that is not a J2534 code:\n" + s.Describe();
    for (const HostCall& c : s.calls) {
        if (!Failed(c)) continue;
        if (c.error.empty() || c.error == "No error") return "a failure without a last-error text:\n" + s.Describe();
        break;
    }
    return {};
}
