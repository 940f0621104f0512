#include "tools/passthru/uds_session.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "common/big_endian.h"
#include "platform/platform.h"

namespace {

j2534::PASSTHRU_MSG Message(uint32_t protocol, uint32_t canId, const Bytes& data, uint32_t txFlags) {
    j2534::PASSTHRU_MSG m;
    std::memset(&m, 0, sizeof m);
    m.ProtocolID = protocol;
    m.TxFlags = txFlags;
    WriteBigEndian32(m.Data, canId);
    if (!data.empty()) std::memcpy(m.Data + 4, data.data(), data.size());
    m.DataSize = static_cast<uint32_t>(data.size() + 4);
    return m;
}

std::string Failure(const UdsSession& s, const char* call, int32_t rc) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(rc));
    std::string text = std::string(call) + " returned " + code;
    std::string last = s.lib->LastError();
    if (!last.empty()) text += " (" + last + ")";
    return text;
}

uint32_t Protocol(const UdsSession& s) { return s.options.rawCan ? j2534::CAN : j2534::ISO15765; }

bool Write(UdsSession& s, uint32_t canId, const Bytes& data, std::string* error) {
    j2534::PASSTHRU_MSG m = Message(Protocol(s), canId, data, s.options.rawCan ? 0 : j2534::ISO15765_FRAME_PAD);
    j2534::ULONG n = 1;
    int32_t rc = s.lib->WriteMsgs(s.channel, &m, &n, 1000);
    if (rc == j2534::STATUS_NOERROR && n == 1) return true;
    *error = Failure(s, "PassThruWriteMsgs", rc);
    return false;
}

bool Write(UdsSession& s, const Bytes& data, std::string* error) { return Write(s, s.options.txId, data, error); }

// The next message within the time: its CAN id and its data after the id.
bool ReadAny(UdsSession& s, uint64_t deadlineUs, uint32_t* id, Bytes* data) {
    for (;;) {
        const uint64_t now = platform::MonotonicUs();
        if (now >= deadlineUs) return false;
        j2534::PASSTHRU_MSG m;
        j2534::ULONG n = 1;
        uint32_t wait = static_cast<uint32_t>((deadlineUs - now + 999) / 1000);
        if (s.lib->ReadMsgs(s.channel, &m, &n, wait) != j2534::STATUS_NOERROR || n != 1) continue;
        if (m.DataSize < 5 || m.DataSize > j2534::kMaxDataSize) continue;
        *id = ReadBigEndian32(m.Data) & 0x1FFFFFFF;
        data->assign(m.Data + 4, m.Data + m.DataSize);
        return true;
    }
}

// The next message from the ECU's response id within the time, without its CAN id.
bool ReadFromEcu(UdsSession& s, uint64_t deadlineUs, Bytes* data) {
    uint32_t id = 0;
    while (ReadAny(s, deadlineUs, &id, data))
        if (id == s.options.rxId) return true;
    return false;
}

// On CAN the frames are ISO-TP: a single frame, or a first frame answered with a flow control
// and followed by consecutive frames.
bool ReadIsoTpFromEcu(UdsSession& s, uint64_t deadlineUs, Bytes* message) {
    Bytes frame;
    while (ReadFromEcu(s, deadlineUs, &frame)) {
        const uint8_t type = frame[0] >> 4;
        if (type == 0 && (frame[0] & 0x0F) != 0 && frame.size() > (frame[0] & 0x0Fu)) {
            message->assign(frame.begin() + 1, frame.begin() + 1 + (frame[0] & 0x0F));
            return true;
        }
        if (type != 1 || frame.size() < 8) continue;
        const size_t total = (size_t(frame[0] & 0x0F) << 8) | frame[1];
        message->assign(frame.begin() + 2, frame.end());
        std::string ignored;
        if (!Write(s, {0x30, 0x00, 0x00, 0, 0, 0, 0, 0}, &ignored)) return false;
        uint8_t sn = 1;
        while (message->size() < total) {
            if (!ReadFromEcu(s, deadlineUs, &frame)) return false;
            if (frame[0] != (0x20 | sn)) return false;
            message->insert(message->end(), frame.begin() + 1, frame.end());
            sn = (sn + 1) & 0x0F;
        }
        message->resize(total);
        return true;
    }
    return false;
}

}  // namespace

bool OpenUdsSession(J2534Library* lib, const SessionOptions& options, UdsSession* s, std::string* error) {
    s->lib = lib;
    s->options = options;
    int32_t rc = lib->Open(nullptr, &s->device);
    if (rc != j2534::STATUS_NOERROR) {
        *error = Failure(*s, "PassThruOpen", rc);
        return false;
    }
    s->open = true;
    rc = lib->Connect(s->device, Protocol(*s), 0, options.baud, &s->channel);
    if (rc != j2534::STATUS_NOERROR) {
        *error = Failure(*s, "PassThruConnect", rc);
        CloseUdsSession(s);
        return false;
    }
    // Only the ECUs' answers; on ISO 15765 the filter also tells the library where its flow
    // control goes. A library that refuses filters still works without one.
    std::vector<std::pair<uint32_t, uint32_t>> pairs = {{options.txId, options.rxId}};
    if (options.obd)
        for (uint32_t i = 0; i < 8; ++i)
            if (options.rxId != 0x7E8 + i) pairs.push_back({0x7E0 + i, 0x7E8 + i});
    for (const auto& ids : pairs) {
        j2534::PASSTHRU_MSG mask = Message(Protocol(*s), 0x1FFFFFFF, {}, 0);
        j2534::PASSTHRU_MSG pattern = Message(Protocol(*s), ids.second, {}, 0);
        j2534::PASSTHRU_MSG flow = Message(Protocol(*s), ids.first, {}, 0);
        j2534::ULONG filterId = 0;
        lib->StartMsgFilter(s->channel, options.rawCan ? j2534::PASS_FILTER : j2534::FLOW_CONTROL_FILTER, &mask,
                            &pattern, options.rawCan ? nullptr : &flow, &filterId);
    }
    return true;
}

void CloseUdsSession(UdsSession* s) {
    if (!s->open) return;
    if (s->channel) s->lib->Disconnect(s->channel);
    s->lib->Close(s->device);
    s->open = false;
    s->channel = 0;
}

Answer RequestAnswer(UdsSession& s, const Bytes& request) {
    Answer a;
    if (s.options.rawCan && request.size() > 7) {
        a.error = "a request over CAN is one single frame of at most 7 bytes";
        return a;
    }
    Bytes data = request;
    if (s.options.rawCan) {
        data.insert(data.begin(), static_cast<uint8_t>(request.size()));
        data.resize(8, 0x00);
    }
    const uint64_t start = platform::MonotonicUs();
    if (!Write(s, data, &a.error)) return a;
    // The ECU's time to answer runs from the end of the request, which may take long to send.
    uint64_t deadline = platform::MonotonicUs() + uint64_t(s.options.timeoutMs) * 1000;
    Bytes answer;
    while (s.options.rawCan ? ReadIsoTpFromEcu(s, deadline, &answer) : ReadFromEcu(s, deadline, &answer)) {
        switch (ClassifyAnswer(request[0], answer)) {
        case AnswerKind::Pending:
            deadline = platform::MonotonicUs() + uint64_t(s.options.pendingTimeoutMs) * 1000;
            continue;
        case AnswerKind::Unrelated:
            continue;
        default:
            a.received = true;
            a.data = answer;
            a.ms = (platform::MonotonicUs() - start) / 1000.0;
            return a;
        }
    }
    a.error = "no answer within " + std::to_string(s.options.timeoutMs) + " ms";
    return a;
}

bool RequestAllAnswers(UdsSession& s, uint32_t canId, const Bytes& request, uint32_t settleMs,
                       std::vector<EcuReply>* replies, std::string* error) {
    replies->clear();
    if (!Write(s, canId, request, error)) return false;
    uint64_t deadline = platform::MonotonicUs() + uint64_t(s.options.timeoutMs) * 1000;
    EcuReply r;
    while (ReadAny(s, deadline, &r.id, &r.data)) {
        const uint64_t now = platform::MonotonicUs();
        switch (ClassifyAnswer(request[0], r.data)) {
        case AnswerKind::Pending:
            deadline = std::max(deadline, now + uint64_t(s.options.pendingTimeoutMs) * 1000);
            continue;
        case AnswerKind::Unrelated:
            continue;
        default:
            replies->push_back(r);
            deadline = std::min(deadline, now + uint64_t(settleMs) * 1000);
        }
    }
    return true;
}
