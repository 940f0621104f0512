/* A Linux host as one writes it against the J2534 header: records and parameters declared with
 * unsigned long (64 bits here), the library opened with dlopen. Reads the VIN, writes a data
 * identifier and reads it back, and asks GET_CONFIG for the data rate. Like a runtime that uses
 * faults itself (a JVM), it has a SIGSEGV handler of its own, which must be its own again once the
 * library is unloaded. Prints what it got; exits non-zero at the first failure.
 * Usage: c_host <driver .so> */
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

typedef struct {
    unsigned long ProtocolID, RxStatus, TxFlags, Timestamp, DataSize, ExtraDataIndex;
    unsigned char Data[4128];
} PASSTHRU_MSG;
typedef struct {
    unsigned long Parameter, Value;
} SCONFIG;
typedef struct {
    unsigned long NumOfParams;
    SCONFIG* ConfigPtr;
} SCONFIG_LIST;

typedef long (*OpenFn)(void*, unsigned long*);
typedef long (*CloseFn)(unsigned long);
typedef long (*ConnectFn)(unsigned long, unsigned long, unsigned long, unsigned long, unsigned long*);
typedef long (*MsgsFn)(unsigned long, PASSTHRU_MSG*, unsigned long*, unsigned long);
typedef long (*FilterFn)(unsigned long, unsigned long, PASSTHRU_MSG*, PASSTHRU_MSG*, PASSTHRU_MSG*, unsigned long*);
typedef long (*IoctlFn)(unsigned long, unsigned long, void*, void*);
typedef long (*LastErrorFn)(char*);

static ConnectFn connect_;
static MsgsFn write_, read_;
static LastErrorFn lastError;

static int Fail(const char* what, long rc) {
    char text[80] = "";
    if (lastError) lastError(text);
    printf("FAILED %s: %ld (%s)\n", what, rc, text);
    return 1;
}

static void Message(PASSTHRU_MSG* m, const unsigned char* data, unsigned long size) {
    memset(m, 0, sizeof *m);
    m->ProtocolID = 6; /* ISO15765 */
    m->TxFlags = 0x40; /* ISO15765_FRAME_PAD */
    m->DataSize = size;
    memcpy(m->Data, data, size);
}

/* Sends a request to 0x7E0 and takes the first answer starting with the positive response id. */
static long Request(unsigned long ch, const unsigned char* request, unsigned long size, PASSTHRU_MSG* answer) {
    PASSTHRU_MSG m;
    unsigned long n = 1;
    int tries;
    Message(&m, request, size);
    long rc = write_(ch, &m, &n, 1000);
    if (rc != 0) return rc;
    for (tries = 0; tries < 10; ++tries) {
        n = 1;
        rc = read_(ch, answer, &n, 1000);
        if (rc != 0) return rc;
        if (n == 1 && answer->DataSize > 4 && answer->Data[4] == (unsigned char)(request[4] + 0x40)) return 0;
    }
    return -1;
}

static void HostFaultHandler(int sig) {
    (void)sig;
    _exit(3);
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    struct sigaction mine;
    memset(&mine, 0, sizeof mine);
    mine.sa_handler = HostFaultHandler;
    sigaction(SIGSEGV, &mine, NULL);
    void* lib = dlopen(argv[1], RTLD_NOW);
    if (!lib) {
        printf("FAILED dlopen: %s\n", dlerror());
        return 1;
    }
    OpenFn open_ = (OpenFn)dlsym(lib, "PassThruOpen");
    CloseFn close_ = (CloseFn)dlsym(lib, "PassThruClose");
    FilterFn filter = (FilterFn)dlsym(lib, "PassThruStartMsgFilter");
    IoctlFn ioctl_ = (IoctlFn)dlsym(lib, "PassThruIoctl");
    connect_ = (ConnectFn)dlsym(lib, "PassThruConnect");
    write_ = (MsgsFn)dlsym(lib, "PassThruWriteMsgs");
    read_ = (MsgsFn)dlsym(lib, "PassThruReadMsgs");
    lastError = (LastErrorFn)dlsym(lib, "PassThruGetLastError");
    if (!open_ || !close_ || !filter || !ioctl_ || !connect_ || !write_ || !read_ || !lastError) return Fail("dlsym", 0);

    unsigned long device = 0, ch = 0, filterId = 0;
    long rc = open_(NULL, &device);
    if (rc != 0) return Fail("PassThruOpen", rc);
    rc = connect_(device, 6, 0, 500000, &ch);
    if (rc != 0) return Fail("PassThruConnect", rc);
    PASSTHRU_MSG mask, pattern, flow, answer;
    const unsigned char ones[] = {0xFF, 0xFF, 0xFF, 0xFF}, rx[] = {0, 0, 7, 0xE8}, tx[] = {0, 0, 7, 0xE0};
    Message(&mask, ones, 4);
    Message(&pattern, rx, 4);
    Message(&flow, tx, 4);
    rc = filter(ch, 3, &mask, &pattern, &flow, &filterId);
    if (rc != 0) return Fail("PassThruStartMsgFilter", rc);

    const unsigned char vin[] = {0, 0, 7, 0xE0, 0x22, 0xF1, 0x90};
    rc = Request(ch, vin, sizeof vin, &answer);
    if (rc != 0) return Fail("VIN", rc);
    printf("VIN %.17s (%lu bytes)\n", (const char*)answer.Data + 7, answer.DataSize);

    const unsigned char write[] = {0, 0, 7, 0xE0, 0x2E, 0xF1, 0x99, 0x20, 0x26, 0x12, 0x09};
    rc = Request(ch, write, sizeof write, &answer);
    if (rc != 0) return Fail("WriteDataByIdentifier", rc);
    const unsigned char readBack[] = {0, 0, 7, 0xE0, 0x22, 0xF1, 0x99};
    rc = Request(ch, readBack, sizeof readBack, &answer);
    if (rc != 0) return Fail("ReadDataByIdentifier", rc);
    printf("F199 %02X %02X %02X %02X\n", answer.Data[7], answer.Data[8], answer.Data[9], answer.Data[10]);

    SCONFIG rate = {1 /* DATA_RATE */, 0};
    SCONFIG_LIST list = {1, &rate};
    rc = ioctl_(ch, 1 /* GET_CONFIG */, &list, NULL);
    if (rc != 0) return Fail("GET_CONFIG", rc);
    printf("DATA_RATE %lu\n", rate.Value);
    close_(device);
    dlclose(lib);
    struct sigaction now;
    sigaction(SIGSEGV, NULL, &now);
    if ((now.sa_flags & SA_SIGINFO) || now.sa_handler != HostFaultHandler) return Fail("SIGSEGV handler after unload", 0);
    printf("SIGSEGV handler is the host's again\n");
    return 0;
}
