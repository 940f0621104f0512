// passthru: a J2534 04.04 host on the command line. Loads a J2534 library by path, opens it,
// connects ISO 15765 (or CAN) and runs UDS requests and recipes (VIN, DTCs, session, reset,
// a flash download, an OBD-II scan), printing every request, its answer and its time.
//
// Exit code: 0 when every request got a positive answer (for OBD-II requests: from at least one
// ECU), 1 when one did not, 2 for a usage
// error, 3 when the library does not load, lacks exports, or cannot be opened and connected.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/driver_registry.h"
#include "tools/passthru/j2534_library.h"
#include "tools/passthru/obd.h"
#include "tools/passthru/uds.h"
#include "tools/passthru/uds_session.h"

namespace {

const char kUsage[] =
    "usage: passthru [options] LIBRARY COMMAND...\n"
    "       passthru [options] --driver NAME COMMAND...\n"
    "       passthru [options] --list\n"
    "\n"
    "LIBRARY   path of a J2534 04.04 library (.dll / .so)\n"
    "NAME      a J2534 driver registered on this machine (see --list)\n"
    "COMMAND   one or more of, run in order:\n"
    "  vin            read the VIN (22 F1 90)\n"
    "  dtc            read the stored DTCs (19 02 FF)\n"
    "  session N      diagnostic session N (10 N)\n"
    "  reset          ECU reset (11 01)\n"
    "  flash FILE     download FILE: 10 02, 34, 36 blocks of the ECU's size, 37\n"
    "  obd            OBD-II scan of every ECU (functional requests to 0x7DF): supported\n"
    "                 PIDs, MIL and DTCs, live values, VIN (ISO 15765 only)\n"
    "  HEX            any request, e.g. \"22 F1 90\" or 22F190\n"
    "options:\n"
    "  --can          connect CAN instead of ISO 15765 (single-frame requests)\n"
    "  --tx ID        request CAN id (default 0x7E0)\n"
    "  --rx ID        response CAN id (default 0x7E8)\n"
    "  --baud N       bit rate (default 500000)\n"
    "  --timeout MS   wait for an answer (default 1000)\n"
    "  --address A    download address for flash (default 0)\n"
    "  --capture FILE record the traffic in FILE (pcapng, for Wireshark), through the\n"
    "                 driver's ORVEX_CAPTURE; the driver's INI wins when it says otherwise\n"
    "  --registry-key KEY   (Windows) where registered drivers are looked up, below HKLM\n"
    "                       (default SOFTWARE\\PassThruSupport.04.04)\n"
    "  --passthru-dir DIR   (Linux) where registered drivers are looked up (default ~/.passthru)\n";

struct Command {
    std::string label;  // how the command is shown
    Bytes request;      // a single request, or
    std::string flashFile;
    bool obd = false;   // the OBD-II scan
};

struct Tally {
    unsigned requests = 0;
    unsigned positive = 0;
};

bool ParseNumber(const std::string& text, uint32_t* value) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// Sends one request and prints it with its answer. True for a positive answer.
bool Run(UdsSession& session, const Bytes& request, Tally* tally, bool quiet = false, Bytes* answerOut = nullptr) {
    ++tally->requests;
    Answer a = RequestAnswer(session, request);
    if (answerOut) *answerOut = a.data;
    const bool positive = a.received && ClassifyAnswer(request[0], a.data) == AnswerKind::Positive;
    if (positive) ++tally->positive;
    if (quiet && positive) return true;
    std::printf("> %s\n", HexText(request).c_str());
    if (!a.received) {
        std::printf("< %s\n", a.error.c_str());
        return false;
    }
    if (positive) {
        std::printf("< %s   (%.1f ms)\n", HexText(a.data).c_str(), a.ms);
        std::string about = DescribeAnswer(request, a.data);
        if (!about.empty()) std::printf("  %s\n", about.c_str());
    } else {
        std::printf("< %s   negative: %s (0x%02X)   (%.1f ms)\n", HexText(a.data).c_str(),
                    NegativeResponseName(a.data[2]), a.data[2], a.ms);
    }
    return positive;
}

void ShowProgress(size_t done, size_t total, double seconds) {
    const int width = 30;
    const int filled = total ? static_cast<int>(width * double(done) / double(total)) : width;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(width, '.');
    std::printf("\r  [%s] %3u%%  %.1f/%.1f KiB  %.1f KiB/s ", bar.c_str(),
                static_cast<unsigned>(total ? 100.0 * double(done) / double(total) : 100.0), done / 1024.0,
                total / 1024.0, seconds > 0 ? done / 1024.0 / seconds : 0.0);
    std::fflush(stdout);
}

// 10 02, 34 with the file's size, 36 blocks as large as the ECU allows, 37.
bool Flash(UdsSession& session, const std::string& path, uint32_t address, Tally* tally) {
    std::string image;
    if (!platform::ReadWholeFile(path, &image)) {
        std::printf("flash: cannot read '%s'\n", path.c_str());
        ++tally->requests;
        return false;
    }
    if (!Run(session, {0x10, 0x02}, tally)) return false;
    const uint32_t size = static_cast<uint32_t>(image.size());
    Bytes answer;
    if (!Run(session,
             {0x34, 0x00, 0x44, uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address),
              uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)},
             tally, false, &answer))
        return false;
    // maxNumberOfBlockLength: as many bytes as the high nibble of byte 1 says; SID and counter
    // included. A J2534 message carries at most 4124 bytes after the CAN id.
    size_t lengthBytes = answer.size() >= 2 ? answer[1] >> 4 : 0;
    uint64_t blockLength = 0;
    for (size_t i = 0; i < lengthBytes && 2 + i < answer.size(); ++i) blockLength = blockLength << 8 | answer[2 + i];
    if (blockLength > 4124) blockLength = 4124;
    if (blockLength < 3) {
        std::printf("flash: the ECU's block length %llu is unusable\n", static_cast<unsigned long long>(blockLength));
        return false;
    }
    const size_t chunk = static_cast<size_t>(blockLength - 2);
    const bool terminal = platform::StdoutIsTerminal();
    std::printf("  downloading %u bytes in blocks of %lu\n", size, static_cast<unsigned long>(chunk));
    const uint64_t start = platform::MonotonicUs();
    uint8_t counter = 1;
    for (size_t offset = 0; offset < image.size(); offset += chunk, ++counter) {
        const size_t n = std::min(chunk, image.size() - offset);
        Bytes block(2 + n);
        block[0] = 0x36;
        block[1] = counter;
        std::copy(image.begin() + offset, image.begin() + offset + n, block.begin() + 2);
        if (!Run(session, block, tally, true)) return false;
        if (terminal) ShowProgress(offset + n, image.size(), (platform::MonotonicUs() - start) / 1e6);
    }
    const double seconds = (platform::MonotonicUs() - start) / 1e6;
    if (terminal) std::printf("\n");
    std::printf("  %u bytes in %.2f s: %.0f bytes/s\n", size, seconds, seconds > 0 ? size / seconds : 0.0);
    return Run(session, {0x37}, tally);
}

// The registered drivers, as hosts find them.
int ListDrivers(const DriverPlaces& places) {
    std::vector<RegisteredDriver> drivers;
    std::string error;
    if (!ListRegisteredDrivers(places, &drivers, &error)) {
        std::fprintf(stderr, "passthru: %s\n", error.c_str());
        return 3;
    }
    if (drivers.empty()) std::printf("no J2534 driver is registered\n");
    for (const RegisteredDriver& d : drivers) {
        if (!d.problem.empty()) {
            std::printf("%s  (malformed: %s)  %s\n", d.name.empty() ? d.entry.c_str() : d.name.c_str(),
                        d.problem.c_str(), d.entry.c_str());
            continue;
        }
        std::string protocols;
        for (const std::string& p : d.protocols) protocols += (protocols.empty() ? "" : " ") + p;
        std::printf("%s\n  vendor    %s\n  library   %s\n  protocols %s\n", d.name.c_str(), d.vendor.c_str(),
                    d.library.c_str(), protocols.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SessionOptions options;
    DriverPlaces places;
    uint32_t address = 0;
    bool list = false;
    std::string driverName;
    std::string capture;
    int i = 1;
    for (; i < argc && std::string(argv[i]).rfind("--", 0) == 0; ++i) {
        const std::string opt = argv[i];
        uint32_t* target = opt == "--tx" ? &options.txId : opt == "--rx" ? &options.rxId : opt == "--baud" ? &options.baud
                         : opt == "--timeout" ? &options.timeoutMs : opt == "--address" ? &address : nullptr;
        std::string* text = opt == "--driver" ? &driverName : opt == "--registry-key" ? &places.key0404
                          : opt == "--passthru-dir" ? &places.passthruDir : opt == "--capture" ? &capture : nullptr;
        if (opt == "--can") {
            options.rawCan = true;
        } else if (opt == "--list") {
            list = true;
        } else if (text && i + 1 < argc) {
            *text = argv[++i];
        } else if (!target || i + 1 >= argc || !ParseNumber(argv[++i], target)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (list) return ListDrivers(places);
    if (!capture.empty()) {
        // The driver takes a relative path from its own folder; the user means this one.
        if (!platform::IsAbsolutePath(capture)) capture = platform::JoinDir(platform::CurrentDirectory(), capture);
        platform::SetEnv("ORVEX_CAPTURE", capture.c_str());
    }
    if (argc - i < (driverName.empty() ? 2 : 1)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string libraryPath;
    if (driverName.empty()) {
        libraryPath = argv[i++];
    } else {
        RegisteredDriver found;
        std::string error;
        if (!FindRegisteredDriver(places, driverName, &found, &error)) {
            std::fprintf(stderr, "passthru: %s\n", error.c_str());
            return 3;
        }
        libraryPath = found.library;
        std::printf("driver   %s (%s)\n", found.name.c_str(), found.entry.c_str());
    }
    std::vector<Command> commands;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        Command c;
        c.label = word;
        if (word == "vin") {
            c.request = {0x22, 0xF1, 0x90};
        } else if (word == "dtc") {
            c.request = {0x19, 0x02, 0xFF};
        } else if (word == "reset") {
            c.request = {0x11, 0x01};
        } else if (word == "session" && i + 1 < argc) {
            uint32_t n = 0;
            if (!ParseNumber(argv[++i], &n) || n > 0xFF) {
                std::fprintf(stderr, "passthru: session needs a number from 0 to 255\n");
                return 2;
            }
            c.request = {0x10, static_cast<uint8_t>(n)};
        } else if (word == "flash" && i + 1 < argc) {
            c.flashFile = argv[++i];
        } else if (word == "obd") {
            if (options.rawCan) {
                std::fprintf(stderr, "passthru: obd needs ISO 15765 (it cannot be used with --can)\n");
                return 2;
            }
            c.obd = options.obd = true;
        } else if (!ParseHex(word, &c.request)) {
            std::fprintf(stderr, "passthru: '%s' is neither a command nor hex bytes\n%s", word.c_str(), kUsage);
            return 2;
        }
        commands.push_back(c);
    }

    J2534Library lib;
    std::string error;
    if (!LoadJ2534Library(libraryPath, &lib, &error)) {
        std::fprintf(stderr, "passthru: %s\n", error.c_str());
        return 3;
    }
    char firmware[80] = {0}, dll[80] = {0}, api[80] = {0};
    lib.ReadVersion(0, firmware, dll, api);
    std::printf("library  %s\nversion  firmware %.79s, library %.79s, API %.79s\n", libraryPath.c_str(), firmware, dll,
                api);
    UdsSession session;
    if (!OpenUdsSession(&lib, options, &session, &error)) {
        std::fprintf(stderr, "passthru: %s\n", error.c_str());
        UnloadJ2534Library(&lib);
        return 3;
    }
    std::printf("channel  %s at %u bit/s, request id 0x%X, response id 0x%X\n", options.rawCan ? "CAN" : "ISO 15765",
                options.baud, options.txId, options.rxId);

    Tally tally;
    for (const Command& c : commands) {
        std::printf("\n%s\n", c.label.c_str());
        if (c.obd) {
            ObdTally obd;
            RunObdScan(session, &obd);
            tally.requests += obd.requests;
            tally.positive += obd.answered;
        } else if (!c.flashFile.empty()) {
            Flash(session, c.flashFile, address, &tally);
        } else {
            Run(session, c.request, &tally);
        }
    }
    CloseUdsSession(&session);
    UnloadJ2534Library(&lib);
    std::printf("\n%u of %u requests answered positively\n", tally.positive, tally.requests);
    return tally.positive == tally.requests ? 0 : 1;
}
