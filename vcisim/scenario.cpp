#include "vcisim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "vcisim/objects.h"

namespace vcisim {

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

uint32_t ParseNumber(const std::string& in, bool* ok) {
    std::string s = Trim(in);
    *ok = false;
    if (s.empty()) return 0;
    bool neg = false;
    if (s[0] == '-') {
        neg = true;
        s = s.substr(1);
    }
    char* end = nullptr;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (!end || *end != '\0' || s.empty()) return 0;
    *ok = true;
    uint32_t r = uint32_t(v);
    return neg ? uint32_t(0u - r) : r;
}

namespace {

std::vector<std::string> Split(const std::string& s, const char* seps) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (std::strchr(seps, c)) {
            cur = Trim(cur);
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    cur = Trim(cur);
    if (!cur.empty()) out.push_back(cur);
    return out;
}

bool ParseBool(const std::string& s) {
    std::string l = Lower(Trim(s));
    return l == "1" || l == "true" || l == "yes" || l == "on";
}

Bytes ParseBytes(const std::string& v) {
    std::string s = Trim(v);
    Bytes b;
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        for (size_t i = 1; i + 1 < s.size(); ++i) b.push_back(uint8_t(s[i]));
        return b;
    }
    if (Lower(s.substr(0, 4)) == "hex:") {
        std::string h;
        for (char c : s.substr(4))
            if (std::isxdigit(static_cast<unsigned char>(c))) h += c;
        for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(uint8_t(std::strtoul(h.substr(i, 2).c_str(), nullptr, 16)));
        return b;
    }
    for (char c : s) b.push_back(uint8_t(c));
    return b;
}

bool ParseKind(const std::string& k, ResourceDef* r) {
    std::string l = Lower(Trim(k));
    r->fd = false;
    r->kwp = false;
    if (l == "iso15765") r->kind = LinkKind::Iso15765;
    else if (l == "iso15765fd") { r->kind = LinkKind::Iso15765; r->fd = true; }
    else if (l == "kwp" || l == "kwponcan") { r->kind = LinkKind::Iso15765; r->kwp = true; }
    else if (l == "rawcan") r->kind = LinkKind::RawCan;
    else if (l == "canfd") { r->kind = LinkKind::RawCan; r->fd = true; }
    else if (l == "kline") r->kind = LinkKind::KLine;
    else if (l == "doip") r->kind = LinkKind::DoIp;
    else return false;
    return true;
}

uint32_t ParseStatus(const std::string& v, bool* ok) {
    std::string l = Lower(Trim(v));
    *ok = true;
    if (l == "ready") return 0x8060;
    if (l == "not_ready") return 0x8061;
    if (l == "not_avail") return 0x8062;
    if (l == "avail") return 0x8063;
    return ParseNumber(v, ok);
}

}  // namespace

std::vector<ResourceDef> DefaultResources() {
    std::vector<ResourceDef> r;
    auto add = [&](uint32_t id, LinkKind k, bool fd, bool kwp) { r.push_back({id, k, fd, kwp}); };
    // The ISO 15765 resources that the families map for CAN FD run it, as current VCIs do;
    // 0x300C0001 and 0x30012111 stay classic.
    for (uint32_t id : {0x300B0001u, 0x30030001u, 0x30012001u, 0x300C0001u, 0x300B0025u, 0x30030025u,
                        0x30012111u, 0x30012101u})
        add(id, LinkKind::Iso15765, id != 0x300C0001u && id != 0x30012111u, false);
    for (uint32_t id : {0x300B0002u, 0x30030002u, 0x30012002u, 0x300C0002u, 0x300B0026u, 0x30030026u,
                        0x30012112u})
        add(id, LinkKind::Iso15765, false, true);
    for (uint32_t id : {0x300B0003u, 0x30030003u, 0x30012003u, 0x300C0003u, 0x300B0027u, 0x30030027u,
                        0x30012113u, 0x30012103u})
        add(id, LinkKind::RawCan, true, false);
    for (uint32_t id : {0x300B0216u, 0x30030216u, 0x300C0215u, 0x30030215u}) add(id, LinkKind::KLine, false, false);
    for (uint32_t id : {0x30070001u, 0x300B0203u}) add(id, LinkKind::DoIp, false, false);
    return r;
}

Scenario DefaultScenario() {
    Scenario s;
    ModuleDef m;
    m.resources = DefaultResources();
    m.name = "ORVEX3-VCI";
    m.info = "Vendor=MIVRA ModuleName=ORVEX3-VCI SerialNumber=VS300001 ConnectionType=USB";
    s.modules.push_back(m);
    m.name = "TRX4820A";
    m.info = "Vendor=VCISIM ModuleName=TRX4820A SerialNumber=VS482001 ConnectionType=USB";
    s.modules.push_back(m);
    m.name = "Telvarion_W2";
    m.info = "Vendor=Telvarion ModuleName=Telvarion_W2 SerialNumber=VS200001 ConnectionType=USB";
    s.modules.push_back(m);
    s.ecus = {DefaultEngineEcu(), DefaultTransmissionEcu(), DefaultKLineEcu(), DefaultEngine29Ecu(),
              DefaultTransmission29Ecu()};
    for (const ComParamDef& d : kComParams)
        if (d.standard) s.comParams.insert(d.name);
    return s;
}

Scenario ParseScenario(const std::string& text, const std::string& baseDir, std::vector<std::string>* errors) {
    Scenario s = DefaultScenario();
    // Collect sections in file order: name -> list of (key, value).
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;
    };
    std::vector<Section> sections;
    sections.push_back({"", {}});
    size_t pos = 0;
    int lineNo = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            sections.push_back({Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1))), {}});
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            errors->push_back("line " + std::to_string(lineNo) + ": no '='");
            continue;
        }
        sections.back().keys.push_back({Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1))});
    }
    auto num = [&](const std::string& key, const std::string& v) {
        bool ok = false;
        uint32_t n = ParseNumber(v, &ok);
        if (!ok) errors->push_back("bad number for " + key + ": '" + v + "'");
        return n;
    };
    auto faultList = [&](const std::string& v, bool withCode, std::vector<FaultAt>* out) {
        for (const std::string& item : Split(v, ",|")) {
            FaultAt f;
            std::string rest = item;
            size_t eq = rest.find('=');
            if (withCode) {
                if (eq == std::string::npos) {
                    errors->push_back("fault without '=code': " + item);
                    continue;
                }
                f.code = num("fault code", rest.substr(eq + 1));
                rest = rest.substr(0, eq);
            }
            size_t at = rest.find('@');
            f.function = Trim(rest.substr(0, at));
            if (at != std::string::npos) f.call = num("fault call", rest.substr(at + 1));
            out->push_back(f);
        }
    };
    auto resourceList = [&](const std::string& v, std::vector<ResourceDef>* out) {
        std::vector<ResourceDef> defaults = DefaultResources();
        for (const std::string& item : Split(v, ",|")) {
            ResourceDef r;
            size_t colon = item.find(':');
            r.id = num("resource id", item.substr(0, colon));
            if (colon != std::string::npos) {
                if (!ParseKind(item.substr(colon + 1), &r)) errors->push_back("bad resource kind: " + item);
            } else {
                for (const ResourceDef& d : defaults)
                    if (d.id == r.id) r = d;
            }
            out->erase(std::remove_if(out->begin(), out->end(), [&](const ResourceDef& x) { return x.id == r.id; }),
                       out->end());
            out->push_back(r);
        }
    };

    bool modulesReplaced = false, ecusReplaced = false;
    for (const Section& sec : sections) {
        const std::string& n = sec.name;
        if (n.empty() || n == "general") {
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                const std::string& v = kv.second;
                if (k == "trace") {
                    if (v.empty()) s.tracePath.clear();
                    else if (v.size() > 1 && (v[0] == '/' || v[0] == '\\' || v[1] == ':')) s.tracePath = v;
                    else s.tracePath = baseDir.empty() ? v : baseDir + "/" + v;
                } else if (k == "traceemptypolls") s.traceEmptyPolls = ParseBool(v);
                else if (k == "tracetimes") s.traceTimes = ParseBool(v);
                else if (k == "constructoptions") {
                    s.acceptAllOptions = Trim(v) == "*";
                    s.acceptedOptions.clear();
                    if (!s.acceptAllOptions) {
                        // '|' separates; <null> and <empty> stand for a null and an empty string
                        size_t p = 0;
                        while (p <= v.size()) {
                            size_t bar = v.find('|', p);
                            std::string o = Trim(v.substr(p, bar == std::string::npos ? std::string::npos : bar - p));
                            p = bar == std::string::npos ? v.size() + 1 : bar + 1;
                            if (o == "<empty>") o = "";
                            else if (o.empty()) continue;
                            s.acceptedOptions.insert(o);
                        }
                    }
                } else if (k == "constructerror") s.constructError = num(k, v);
                else if (k == "timing") {
                    std::string l = Lower(v);
                    if (l == "bus") s.timed = true;
                    else if (l == "zero") s.timed = false;
                    else errors->push_back("Timing must be zero or bus");
                } else if (k == "canbaudrate" || k == "canfddatabaudrate") {
                    // bit rates divide frame lengths: 0 is no rate
                    uint32_t n = num(k, v);
                    uint32_t most = k == "canbaudrate" ? 1000000 : kMaxFdDataBaud;
                    const char* name = k == "canbaudrate" ? "CanBaudrate" : "CanFdDataBaudrate";
                    if (n == 0 || n > most) errors->push_back(std::string(name) + " must be 1 to " + std::to_string(most));
                    else (k == "canbaudrate" ? s.canBaud : s.canFdDataBaud) = n;
                }
                else if (k == "copstatusevents") s.copStatusEvents = ParseBool(v);
                else if (k == "iso15765resultheader") s.iso15765ResultHeader = Lower(v);
                else if (k == "rxqueuesize") {
                    uint32_t n = num(k, v);
                    if (n >= 1 && n <= 1000000) s.rxQueueSize = n;
                    else errors->push_back("RxQueueSize must be 1 to 1000000");
                }
                else errors->push_back("unknown key [General] " + k);
            }
        } else if (n.rfind("module", 0) == 0) {
            if (!modulesReplaced) {
                s.modules.clear();
                modulesReplaced = true;
            }
            ModuleDef m;
            m.resources = DefaultResources();
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                const std::string& v = kv.second;
                if (k == "name") m.name = v;
                else if (k == "info") m.info = v;
                else if (k == "status") {
                    bool ok;
                    m.status = ParseStatus(v, &ok);
                    if (!ok) errors->push_back("bad module status " + v);
                } else if (k == "typeid") m.typeId = num(k, v);
                else if (k == "connectresults") {
                    m.connectResults.clear();
                    for (const std::string& c : Split(v, ",|")) m.connectResults.push_back(num(k, c));
                } else if (k == "resourceids") {
                    m.resources.clear();
                    resourceList(v, &m.resources);
                } else if (k == "addresourceids") resourceList(v, &m.resources);
                else if (k == "hiddenuntilvehicleid") m.hiddenUntilVehicleId = ParseBool(v);
                else if (k == "vbattmv") m.vbattMv = num(k, v);
                else if (k == "ignition") m.ignition = num(k, v);
                else errors->push_back("unknown key [" + n + "] " + k);
            }
            s.modules.push_back(m);
        } else if (n.rfind("ecu", 0) == 0) {
            if (!ecusReplaced) {
                s.ecus.clear();
                ecusReplaced = true;
            }
            EcuConfig e = DefaultEngineEcu();
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                const std::string& v = kv.second;
                if (ParseObdEcuKey(k, v, &e, errors)) continue;
                if (k == "name") e.name = v;
                else if (k == "bus") {
                    std::string l = Lower(v);
                    if (l == "kline") e.bus = EcuBus::KLine;
                    else if (l == "can") e.bus = EcuBus::Can;
                    else errors->push_back("Bus must be can or kline");
                } else if (k == "requestid") e.requestId = num(k, v);
                else if (k == "responseid") e.responseId = num(k, v);
                else if (k == "functionalid") e.functionalId = num(k, v);
                else if (k == "doipaddress") e.doipAddress = uint16_t(num(k, v));
                else if (k == "klineaddress") e.klineAddress = uint8_t(num(k, v));
                else if (k.rfind("did.", 0) == 0) {
                    bool ok;
                    uint32_t did = ParseNumber("0x" + k.substr(4), &ok);
                    if (!ok) errors->push_back("bad DID key " + k);
                    else e.dids[uint16_t(did)] = ParseBytes(v);
                } else if (k == "dtcs") {
                    e.dtcs.clear();
                    for (const std::string& d : Split(v, ",|")) {
                        size_t c = d.find(':');
                        Dtc dtc;
                        dtc.code = num(k, d.substr(0, c));
                        dtc.status = c == std::string::npos ? 0x08 : uint8_t(num(k, d.substr(c + 1)));
                        e.dtcs.push_back(dtc);
                    }
                } else if (k == "securitymask") e.securityMask = num(k, v);
                else if (k == "seedbase") e.seedBase = num(k, v);
                else if (k == "maxblocklength") e.maxBlockLength = uint16_t(num(k, v));
                else if (k == "responsepending") e.responsePending = num(k, v);
                else if (k == "pendingservices") {
                    e.pendingServices.clear();
                    for (const std::string& x : Split(v, ",|")) e.pendingServices.insert(uint8_t(num(k, x)));
                } else if (k == "pendingdelayms") e.pendingDelayMs = num(k, v);
                else if (k == "responsedelayms") e.responseDelayMs = num(k, v);
                else if (k == "silent") e.silent = ParseBool(v);
                else if (k == "ignoredservices") {
                    e.ignoredServices.clear();
                    for (const std::string& x : Split(v, ",|")) e.ignoredServices.insert(uint8_t(num(k, x)));
                } else if (k == "blocksize") e.blockSize = uint8_t(num(k, v));
                else if (k == "stmin") e.stMin = uint8_t(num(k, v));
                else if (k == "padding") e.padding = ParseBool(v);
                else if (k == "padbyte") e.padByte = uint8_t(num(k, v));
                else if (k == "flowcontrolwaits") e.flowControlWaits = num(k, v);
                else if (k == "flowcontroloverflow") e.flowControlOverflow = ParseBool(v);
                else errors->push_back("unknown key [" + n + "] " + k);
            }
            s.ecus.push_back(e);
        } else if (n == "objectids") {
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                if (k == "comparams") {
                    s.comParams.clear();
                    for (const std::string& x : Split(kv.second, ",|")) s.comParams.insert(x);
                } else if (k == "addcomparams") {
                    for (const std::string& x : Split(kv.second, ",|")) s.comParams.insert(x);
                } else if (k == "unknown") {
                    for (const std::string& x : Split(kv.second, ",|")) s.unknownNames.insert(x);
                } else errors->push_back("unknown key [ObjectIds] " + k);
            }
        } else if (n == "comparams") {
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                auto codes = [&](std::map<std::string, uint32_t>* m) {
                    for (const std::string& x : Split(kv.second, ",|")) {
                        size_t eq = x.find('=');
                        (*m)[Trim(x.substr(0, eq))] = eq == std::string::npos ? 0x63 : num(k, x.substr(eq + 1));
                    }
                };
                if (k == "reject") {
                    codes(&s.rejectGet);
                    codes(&s.rejectSet);
                } else if (k == "rejectget") codes(&s.rejectGet);
                else if (k == "rejectset") codes(&s.rejectSet);
                else if (k.rfind("cp_", 0) == 0) {
                    bool found = false;
                    for (const ComParamDef& d : kComParams)
                        if (Lower(d.name) == k) {
                            s.comParamDefaults[d.name] = num(k, kv.second);
                            found = true;
                        }
                    if (!found) errors->push_back("unknown ComParam " + k);
                } else errors->push_back("unknown key [ComParams] " + k);
            }
        } else if (n == "ioctls") {
            for (const auto& kv : sec.keys) {
                if (kv.first == "unknown") {
                    for (const std::string& x : Split(kv.second, ",|")) s.unknownNames.insert(x);
                } else if (kv.first == "fail") {
                    for (const std::string& x : Split(kv.second, ",|")) {
                        size_t eq = x.find('=');
                        s.ioctlResults[Trim(x.substr(0, eq))] = eq == std::string::npos ? 0x01 : num("Fail", x.substr(eq + 1));
                    }
                } else errors->push_back("unknown key [Ioctls] " + kv.first);
            }
        } else if (n == "traffic") {
            TrafficDef& t = s.traffic;
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                const std::string& v = kv.second;
                if (k == "rate") {
                    std::string l = Lower(v);
                    t.fullLoad = l == "bus";
                    t.rate = t.fullLoad || l == "off" ? 0 : num(k, v);
                    if (!t.fullLoad && t.rate > 1000000) {
                        errors->push_back("Rate must be bus, off or 0 to 1000000");
                        t.rate = 0;
                    }
                    t.on = t.fullLoad || t.rate != 0;
                } else if (k == "canid") {
                    t.canId = num(k, v);
                } else if (k == "idcount") {
                    t.idCount = num(k, v);
                } else if (k == "datalength") {
                    uint32_t n = num(k, v);
                    if (n >= 4 && n <= 8) t.dataLength = n;
                    else errors->push_back("DataLength must be 4 to 8");
                } else errors->push_back("unknown key [Traffic] " + k);
            }
            if (t.idCount == 0 || t.canId > 0x1FFFFFFF || t.idCount - 1 > 0x1FFFFFFF - t.canId) {
                errors->push_back("CanId and IdCount must name ids up to 0x1FFFFFFF");
                t.canId = 0x100;
                t.idCount = 16;
            }
        } else if (n == "faults") {
            for (const auto& kv : sec.keys) {
                const std::string& k = kv.first;
                if (k == "crash") faultList(kv.second, false, &s.crashes);
                else if (k == "error") faultList(kv.second, true, &s.errors);
                else if (k == "losevciaftercalls") s.loseVciAfterCalls = num(k, kv.second);
                else if (k == "losevcicode") s.loseVciCode = num(k, kv.second);
                else errors->push_back("unknown key [Faults] " + k);
            }
        } else {
            errors->push_back("unknown section [" + n + "]");
        }
    }
    return s;
}

}  // namespace vcisim
