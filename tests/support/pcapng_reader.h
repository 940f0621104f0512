// A reader of the pcapng files the capture writes, for tests: the blocks in order, each checked
// for its length at both ends, and the options the capture uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PcapngInterface {
    uint16_t linkType = 0;
    std::string name;
    int tsResolution = -1;    // if_tsresol, -1 when absent
    int64_t tsOffset = 0;     // if_tsoffset, seconds
};

struct PcapngPacket {
    uint32_t interfaceIndex = 0;
    uint64_t time = 0;        // in the interface's units
    uint32_t flags = 0;       // epb_flags: 1 inbound, 2 outbound
    std::string data;
    std::string comment;
};

struct PcapngFile {
    unsigned sections = 0;
    std::string application;  // shb_userappl of the first section
    std::vector<PcapngInterface> interfaces;  // of the last section
    std::vector<PcapngPacket> packets;
    std::vector<uint32_t> blockTypes;  // every whole block, in order
    size_t trailingBytes = 0;          // bytes after the last whole block
    std::string error;                 // empty when every block was sound
};

PcapngFile ReadPcapng(const std::string& bytes);

// An exported PDU (LINKTYPE_WIRESHARK_UPPER_PDU): the dissector it names and the bytes behind
// its tags. False when the tags are not sound.
bool SplitExportedPdu(const std::string& data, std::string* dissector, std::string* payload);
// A LINKTYPE_CAN_SOCKETCAN frame: id without flags, extended-id flag, CAN FD form, the data.
struct SocketCanFrame {
    uint32_t id = 0;
    bool extended = false;
    bool fd = false;
    std::string data;
};
bool SplitSocketCan(const std::string& packet, SocketCanFrame* frame);
