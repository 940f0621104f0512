// The writer's side: records into pcapng blocks, blocks into the capture file in one write per
// batch (a crash leaves whole blocks, at worst one cut short at the end), and the files rotated
// by size like the log, the oldest beyond Keep deleted.
#include "driver/capture/capture_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "common/protocols.h"
#include "common/version.h"
#include "driver/capture/pcapng.h"
#include "driver/log/log.h"
#include "platform/platform.h"

namespace {

// How a channel shows in the file.
struct ChannelView {
    std::string name;
    bool frames = false;  // CAN frames (SocketCAN), else whole messages (exported PDUs)
    bool canFd = false;
    bool extendedIds = false;
    uint32_t protocolId = 0;
    bool doip = false;
    uint16_t doipTester = 0;
    uint16_t doipEcu = 0;
};

// The writer thread's state; it outlives sessions so that a process goes on with its file.
struct FileState {
    CaptureSettings settings;
    platform::FileHandle file = platform::kInvalidFile;
    std::string path;               // the file this process writes; empty before the first
    uint64_t size = 0;              // bytes in it
    uint64_t packets = 0;           // packet blocks in it
    int64_t tsOffsetSeconds = 0;    // the driver's clock to calendar time, for readers
    std::map<uint32_t, uint32_t> interfaces;  // channel id to interface index in the file
    uint32_t nextInterface = 0;
    std::map<uint32_t, ChannelView> channels;
    std::string out;      // blocks not written yet
    std::string packet;   // one packet's link-layer bytes
    uint64_t dropsToTell = 0;
    bool dropsLogged = false;
};
FileState g_file;

const char* ProtocolName(uint32_t protocolId) {
    switch (protocolId) {
        case j2534::ISO9141: return "ISO9141";
        case j2534::ISO14230: return "ISO14230";
        case j2534::CAN: return "CAN";
        case j2534::ISO15765: return "ISO15765";
        case j2534::ISO15765_FD_ALT:
        case j2534::ISO15765_FD: return "ISO15765_FD";
        case j2534::SCI_A_TRANS:
        case j2534::CAN_FD: return "CAN_FD";
        case j2534::DOIP:
        case j2534::DOIP_ALT: return "DoIP";
        default: return nullptr;
    }
}

ChannelView ViewOf(const CaptureRecord& r, const std::string& doipAddress) {
    ChannelView v;
    v.protocolId = r.protocolId;
    v.doip = j2534::IsDoipProtocol(r.protocolId);
    v.frames = j2534::IsRawCanProtocol(r.protocolId) || (r.softwareIsoTp && j2534::IsIso15765Protocol(r.protocolId));
    v.canFd = v.frames && j2534::IsCanFdProtocol(r.protocolId);
    v.extendedIds = (r.flags & j2534::CAN_29BIT_ID) != 0;
    v.doipTester = r.doipTester;
    v.doipEcu = r.doipEcu;
    const char* protocol = ProtocolName(r.protocolId);
    char name[96];
    if (v.doip && !doipAddress.empty())
        std::snprintf(name, sizeof name, "ch%lu DoIP %s", static_cast<unsigned long>(r.channelId), doipAddress.c_str());
    else if (protocol)
        std::snprintf(name, sizeof name, "ch%lu %s %lu", static_cast<unsigned long>(r.channelId), protocol,
                      static_cast<unsigned long>(r.baudRate));
    else
        std::snprintf(name, sizeof name, "ch%lu protocol 0x%lX %lu", static_cast<unsigned long>(r.channelId),
                      static_cast<unsigned long>(r.protocolId), static_cast<unsigned long>(r.baudRate));
    v.name = name;
    return v;
}

uint32_t ReadBigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void AddToComment(std::string* comment, const std::string& part) {
    if (part.empty()) return;
    if (!comment->empty()) *comment += "; ";
    *comment += part;
}

const char* SenderText(CaptureSender sender) {
    switch (sender) {
        case CaptureSender::AutoFlowControl: return "automatic flow control by the driver";
        case CaptureSender::Periodic: return "periodic message by the driver";
        case CaptureSender::DasWakeup: return "DAS wake-up by the driver";
        case CaptureSender::Host: break;
    }
    return "";
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, static_cast<unsigned long>(value));
    return text;
}

// The packet's link-layer bytes into g_file.packet, and what its comment says about it.
void Encode(const ChannelView& v, const CaptureRecord& r, const uint8_t* data, std::string* comment) {
    g_file.packet.clear();
    const bool withId = r.canIdInData && r.length >= j2534::kCanIdHeaderSize;
    const uint32_t canId = withId ? ReadBigEndian(data) & j2534::kCanIdMask : 0;
    const uint8_t* body = withId ? data + j2534::kCanIdHeaderSize : data;
    const size_t bodyLength = withId ? r.length - j2534::kCanIdHeaderSize : r.length;
    const bool sent = r.kind == RecordKind::Sent;
    if (v.frames) {
        pcapng::AppendSocketCanFrame(&g_file.packet, canId, v.extendedIds || canId > j2534::kStandardCanIdMask,
                                     v.canFd, body, bodyLength);
    } else if (v.doip) {
        pcapng::AppendExportedPdu(&g_file.packet, "uds", data, r.length);
        AddToComment(comment, "DoIP " + Hex(sent ? v.doipTester : v.doipEcu, 4) + " -> " +
                                  Hex(sent ? v.doipEcu : v.doipTester, 4));
    } else if (j2534::IsKLineProtocol(v.protocolId)) {
        pcapng::AppendExportedPdu(&g_file.packet, "data", data, r.length);
        AddToComment(comment, v.protocolId == j2534::ISO9141 ? "ISO 9141 (K-Line)" : "ISO 14230 (K-Line)");
    } else {
        // A flow control the driver writes on a message channel is no UDS message.
        const char* dissector = sent && r.sender == CaptureSender::AutoFlowControl ? "data" : "uds";
        pcapng::AppendExportedPdu(&g_file.packet, dissector, body, bodyLength);
        if (withId) AddToComment(comment, "CAN id " + Hex(canId, 3));
    }
    if (sent) AddToComment(comment, SenderText(r.sender));
}

// ---- The file --------------------------------------------------------------------------------

bool Flush() {
    if (g_file.out.empty()) return true;
    const bool written = platform::WriteAppendFile(g_file.file, g_file.out.data(), g_file.out.size());
    if (written) g_file.size += g_file.out.size();
    g_file.out.clear();
    return written;
}

void CloseFile() {
    platform::CloseAppendFile(g_file.file);
    g_file.file = platform::kInvalidFile;
}

bool CannotWrite() {
    CloseFile();
    g_file.out.clear();
    WriteLogLine("Capture: cannot write " + g_file.path + "; capture off for this session");
    return false;
}

// An archive of the capture file: stem + "_" + YYYYMMDD_HHMMSS (+ "_" + n) + extension. Its
// stamp and number in *order, for sorting oldest first.
bool IsArchiveOf(const std::string& name, const std::string& stem, const std::string& ext, std::string* order) {
    if (name.size() < stem.size() + 16 + ext.size() || name.compare(0, stem.size() + 1, stem + "_") != 0 ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
        return false;
    const std::string middle = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - ext.size());
    for (size_t i = 0; i < 15; ++i)
        if (i == 8 ? middle[i] != '_' : (middle[i] < '0' || middle[i] > '9')) return false;
    std::string number = middle.substr(15);
    if (!number.empty()) {
        if (number[0] != '_' || number.size() < 2 || number.size() > 4) return false;
        number.erase(0, 1);
        for (char c : number)
            if (c < '0' || c > '9') return false;
    }
    *order = middle.substr(0, 15) + std::string(4 - number.size(), '0') + number;
    return true;
}

// Deletes the oldest archives beyond Keep (the file being written counts as one).
void PruneArchives() {
    const std::string dir = platform::WithoutLastComponent(g_file.path);
    const std::string fileName = platform::LastPathComponent(g_file.path);
    const size_t dot = fileName.find_last_of('.');
    const std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string() : fileName.substr(dot);
    std::vector<std::string> names;
    if (!platform::ListDirectory(dir.empty() ? std::string(".") : dir, &names)) return;
    std::vector<std::pair<std::string, std::string>> archives;  // order, name
    std::string order;
    for (const std::string& name : names)
        if (IsArchiveOf(name, stem, ext, &order)) archives.emplace_back(order, name);
    std::sort(archives.begin(), archives.end());
    const size_t keep = g_file.settings.keep > 1 ? g_file.settings.keep - 1 : 0;
    for (size_t i = 0; i + keep < archives.size(); ++i) platform::RemoveFile(platform::JoinDir(dir, archives[i].second));
}

// A fresh file: what lies at the path is archived first (a file that cannot be moved away gets
// a section of its own appended). The section header goes out at once.
bool StartFile() {
    const std::string& path = g_file.path;
    const std::string dir = platform::WithoutLastComponent(path);
    if (!dir.empty()) platform::CreateDirectories(dir);
    if (platform::GetFileInfo(path).size > 0 && RotateLog(path, RotationTimeStamp())) PruneArchives();
    g_file.file = platform::OpenAppendFile(path, &g_file.size);
    if (g_file.file == platform::kInvalidFile) return false;
    g_file.packets = 0;
    g_file.interfaces.clear();
    g_file.nextInterface = 0;
    const int64_t offsetUs = static_cast<int64_t>(platform::WallClockUs() - platform::MonotonicUs());
    g_file.tsOffsetSeconds = offsetUs / 1000000 - (offsetUs % 1000000 < 0 ? 1 : 0);
    pcapng::AppendSectionHeader(&g_file.out, std::string("Orvex J2534 ") + ORVEX_PRODUCT_VERSION);
    return Flush();
}

// The index of the channel's interface in this file; its description goes out first if needed.
uint32_t InterfaceOf(uint32_t channelId, const ChannelView& v) {
    auto it = g_file.interfaces.find(channelId);
    if (it != g_file.interfaces.end()) return it->second;
    pcapng::AppendInterface(&g_file.out, v.frames ? pcapng::kLinkTypeSocketCan : pcapng::kLinkTypeUpperPdu, v.name,
                            g_file.tsOffsetSeconds);
    g_file.interfaces[channelId] = g_file.nextInterface;
    return g_file.nextInterface++;
}

// Blocks of this size would take the file past its limit: what is waiting goes out, the file
// is archived and a new one started. When it cannot be moved away it goes on growing.
bool RotateBefore(size_t blockBytes) {
    if (g_file.packets == 0 || g_file.size + g_file.out.size() + blockBytes <= g_file.settings.maxBytes) return true;
    if (!Flush()) return false;
    CloseFile();
    const bool rotated = RotateLog(g_file.path, RotationTimeStamp());
    if (rotated) {
        PruneArchives();
        return StartFile();
    }
    g_file.file = platform::OpenAppendFile(g_file.path, &g_file.size);
    return g_file.file != platform::kInvalidFile;
}

bool WritePacket(const CaptureRecord& r, const uint8_t* data) {
    auto it = g_file.channels.find(r.channelId);
    if (it == g_file.channels.end()) return true;  // traffic of a channel already gone
    const ChannelView& v = it->second;
    std::string comment;
    if (g_file.dropsToTell) {
        comment = std::to_string(g_file.dropsToTell) + " earlier messages not captured (capture queue full)";
        g_file.dropsToTell = 0;
    }
    Encode(v, r, data, &comment);
    const size_t interfaceBytes = g_file.interfaces.count(r.channelId) ? 0 : 64 + v.name.size();
    const size_t packetBytes = 48 + g_file.packet.size() + comment.size();
    if (!RotateBefore(interfaceBytes + packetBytes)) return false;
    const uint32_t index = InterfaceOf(r.channelId, v);
    pcapng::AppendPacket(&g_file.out, index, r.timeUs,
                         r.kind == RecordKind::Sent ? pcapng::Direction::Outbound : pcapng::Direction::Inbound,
                         reinterpret_cast<const uint8_t*>(g_file.packet.data()), g_file.packet.size(), comment);
    ++g_file.packets;
    return true;
}

}  // namespace

bool WriterSessionStart(const CaptureSettings& settings) {
    g_file.settings = settings;
    g_file.dropsLogged = false;
    g_file.dropsToTell = 0;
    g_file.channels.clear();
    // The process's own file, untouched since its last session, goes on; anything else starts anew.
    const bool goOn = g_file.path == settings.path && !g_file.path.empty() &&
                      platform::GetFileInfo(g_file.path).size == g_file.size && g_file.size > 0;
    g_file.path = settings.path;
    g_file.out.clear();
    bool opened = false;
    if (goOn) {
        uint64_t size = 0;
        g_file.file = platform::OpenAppendFile(g_file.path, &size);
        opened = g_file.file != platform::kInvalidFile && size == g_file.size;
        if (!opened) CloseFile();
    }
    if (!opened && !StartFile()) {
        CloseFile();
        g_file.path.clear();
        WriteLogLine("Capture: cannot open " + settings.path + "; capture off for this session");
        return false;
    }
    WriteLogLine("Capture: writing " + settings.path);
    return true;
}

bool WriterTake(const std::string& records, uint64_t dropped) {
    if (dropped) {
        g_file.dropsToTell += dropped;
        if (!g_file.dropsLogged) {
            g_file.dropsLogged = true;
            WriteLogLine("Capture: queue full, messages not captured (the file notes each gap)");
        }
    }
    size_t pos = 0;
    while (pos + sizeof(CaptureRecord) <= records.size()) {
        CaptureRecord r;
        std::memcpy(&r, records.data() + pos, sizeof r);
        const uint8_t* data = reinterpret_cast<const uint8_t*>(records.data()) + pos + sizeof r;
        pos += sizeof r + r.length;
        switch (r.kind) {
            case RecordKind::Channel: {
                const ChannelView v = ViewOf(r, std::string(reinterpret_cast<const char*>(data), r.length));
                g_file.channels[r.channelId] = v;
                if (!RotateBefore(64 + v.name.size())) return CannotWrite();
                InterfaceOf(r.channelId, v);
                break;
            }
            case RecordKind::ChannelGone: g_file.channels.erase(r.channelId); break;
            case RecordKind::Sent:
            case RecordKind::Received:
                if (!WritePacket(r, data)) return CannotWrite();
                break;
        }
    }
    return Flush() || CannotWrite();
}

void WriterSessionEnd() {
    CloseFile();
    g_file.channels.clear();
}
