"""A Linux host in Python with ctypes alone, declared as J2534 hosts declare the records
(ctypes.c_ulong): reads the VIN, writes a data identifier and reads it back, asks GET_CONFIG for
the data rate. Prints what it got; exits non-zero at the first failure.
Usage: python3 ctypes_host.py <driver .so>"""
import ctypes
import sys

ULONG = ctypes.c_ulong


class PASSTHRU_MSG(ctypes.Structure):
    _fields_ = [("ProtocolID", ULONG), ("RxStatus", ULONG), ("TxFlags", ULONG), ("Timestamp", ULONG),
                ("DataSize", ULONG), ("ExtraDataIndex", ULONG), ("Data", ctypes.c_ubyte * 4128)]


class SCONFIG(ctypes.Structure):
    _fields_ = [("Parameter", ULONG), ("Value", ULONG)]


class SCONFIG_LIST(ctypes.Structure):
    _fields_ = [("NumOfParams", ULONG), ("ConfigPtr", ctypes.POINTER(SCONFIG))]


ISO15765, FRAME_PAD, FLOW_CONTROL_FILTER, GET_CONFIG, DATA_RATE = 6, 0x40, 3, 1, 1


def message(data):
    m = PASSTHRU_MSG()
    m.ProtocolID, m.TxFlags, m.DataSize = ISO15765, FRAME_PAD, len(data)
    for i, b in enumerate(data):
        m.Data[i] = b
    return m


def main():
    j2534 = ctypes.CDLL(sys.argv[1])
    for name in ("PassThruOpen", "PassThruClose", "PassThruConnect", "PassThruWriteMsgs", "PassThruReadMsgs",
                 "PassThruStartMsgFilter", "PassThruIoctl", "PassThruGetLastError"):
        getattr(j2534, name).restype = ctypes.c_long

    def check(what, rc):
        if rc != 0:
            text = ctypes.create_string_buffer(80)
            j2534.PassThruGetLastError(text)
            print("FAILED %s: %d (%s)" % (what, rc, text.value.decode()))
            sys.exit(1)

    device, ch, filter_id = ULONG(0), ULONG(0), ULONG(0)
    check("PassThruOpen", j2534.PassThruOpen(None, ctypes.byref(device)))
    check("PassThruConnect", j2534.PassThruConnect(device, ULONG(ISO15765), ULONG(0), ULONG(500000), ctypes.byref(ch)))
    mask, pattern, flow = message([0xFF] * 4), message([0, 0, 7, 0xE8]), message([0, 0, 7, 0xE0])
    check("PassThruStartMsgFilter", j2534.PassThruStartMsgFilter(ch, ULONG(FLOW_CONTROL_FILTER), ctypes.byref(mask),
                                                                 ctypes.byref(pattern), ctypes.byref(flow),
                                                                 ctypes.byref(filter_id)))

    def request(data):
        count = ULONG(1)
        check("PassThruWriteMsgs", j2534.PassThruWriteMsgs(ch, ctypes.byref(message([0, 0, 7, 0xE0] + data)),
                                                           ctypes.byref(count), ULONG(1000)))
        answer = PASSTHRU_MSG()
        for _ in range(10):
            count = ULONG(1)
            check("PassThruReadMsgs", j2534.PassThruReadMsgs(ch, ctypes.byref(answer), ctypes.byref(count), ULONG(1000)))
            if count.value == 1 and answer.DataSize > 4 and answer.Data[4] == data[0] + 0x40:
                return bytes(answer.Data[4:answer.DataSize])
        check("answer", -1)

    vin = request([0x22, 0xF1, 0x90])
    print("VIN %s (%d bytes)" % (vin[3:].decode(), len(vin) + 4))
    request([0x2E, 0xF1, 0x99, 0x20, 0x26, 0x12, 0x09])
    did = request([0x22, 0xF1, 0x99])
    print("F199 " + " ".join("%02X" % b for b in did[3:]))
    rate = SCONFIG(DATA_RATE, 0)
    config = SCONFIG_LIST(1, ctypes.pointer(rate))
    check("GET_CONFIG", j2534.PassThruIoctl(ch, ULONG(GET_CONFIG), ctypes.byref(config), None))
    print("DATA_RATE %d" % rate.Value)
    j2534.PassThruClose(device)


main()
