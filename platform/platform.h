// The one door to the operating system. Everything above this header is plain C++17;
// win32/ and posix/ hold the two implementations. Paths and texts are UTF-8 byte strings
// (on Windows converted to and from UTF-16 at this boundary).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define PLATFORM_PRINTF_FORMAT(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#else
#define PLATFORM_PRINTF_FORMAT(fmtIndex, argIndex)
#endif

// Marks the functions a shared library exports (Windows builds export through .def files).
#if defined(__GNUC__) && !defined(_WIN32)
#define PLATFORM_EXPORT __attribute__((visibility("default")))
#else
#define PLATFORM_EXPORT
#endif

namespace platform {

// Separator used when this system builds a path.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif
inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// ---- Path texts (either separator accepted) ------------------------------------------------
std::string LastPathComponent(const std::string& path);
// The path without its last component; empty when it has only one.
std::string WithoutLastComponent(const std::string& path);
std::string StripExtension(const std::string& fileName);
// name inside dir, with this system's separator unless dir is empty or ends in one.
std::string JoinDir(const std::string& dir, const std::string& name);

// ---- Module identity -------------------------------------------------------------------
// Full path of the library or program that contains this code (found from the address of
// one of its own functions, so a library gets its own file, not the host's). Empty if unknown.
std::string ThisModulePath();
// Full path of the host process's executable. Empty if unknown.
std::string HostExecutablePath();
// The process's current directory, used to make relative paths absolute.
std::string CurrentDirectory();

// ---- Files and directories ---------------------------------------------------------------
struct FileInfo {
    bool exists = false;
    bool isDirectory = false;
    uint64_t size = 0;
};
FileInfo GetFileInfo(const std::string& path);
// Creates one directory level; an existing directory counts as success.
bool CreateOneDirectory(const std::string& path);
// Creates a directory with all missing parents; an existing directory counts as success.
bool CreateDirectories(const std::string& path);
// Renames a file, replacing a file that already has the new name.
bool RenameReplace(const std::string& from, const std::string& to);
// Opens for appending (creating it if needed, shared with other readers and writers),
// writes the bytes without any newline translation and closes again. A file that already holds
// refuseFromSize bytes or more is left as it is (Full): the size comes from the open file, so
// a caller that keeps files below a size needs no second look at the path.
enum class AppendResult { Written, Full, NotOpened, NotWritten };
constexpr uint64_t kNoSizeLimit = ~uint64_t(0);
AppendResult AppendToFile(const std::string& path, const void* data, size_t size,
                          uint64_t refuseFromSize = kNoSizeLimit);
// Whole-file read (binary). False when the file cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* out);
// Whole-file replace (binary), creating the file.
bool WriteWholeFile(const std::string& path, const std::string& data);
bool RemoveFile(const std::string& path);
// True when the path is absolute in the driver's sense: a drive letter and ':' or a
// leading '\\' or '/'.
bool IsAbsolutePath(const std::string& path);
// The names in a folder (no "." or ".."); false when it cannot be read.
bool ListDirectory(const std::string& dir, std::vector<std::string>* names);

// A file kept open for appending, shared with readers (and other writers) while it is: for
// files written block by block over a long time. OpenAppendFile creates it if needed and gives
// its size; each WriteAppendFile hands its bytes to the system in one call, at the end of the
// file (false unless every byte was written).
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;
FileHandle OpenAppendFile(const std::string& path, uint64_t* size);
bool WriteAppendFile(FileHandle file, const void* data, size_t size);
void CloseAppendFile(FileHandle file);

// ---- Environment, time -----------------------------------------------------------------
bool GetEnv(const char* name, std::string* value);
bool SetEnv(const char* name, const char* value);  // null value removes it

struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime GetLocalTime();

// Microseconds since 1970-01-01 00:00 UTC, from the system's calendar clock.
uint64_t WallClockUs();

// Milliseconds since an arbitrary start (system start on Windows), the 32-bit value wrapping.
uint32_t TickCount32();
uint64_t TickCount64();
// Microseconds on a monotonic clock, for pacing below a millisecond.
uint64_t MonotonicUs();
void SleepMs(uint32_t ms);
// Waits about us microseconds, also below a millisecond. On Windows Sleep(1) lasts up to a
// timer tick (15.6 ms by default), which would cut a transfer paced at 1 ms to a tenth.
void SleepPreciseUs(uint32_t us);
// Waits about us microseconds without spinning, between the polls of a loop that may wait for
// seconds: on Windows a high-resolution timer where there is one (else one timer tick, as
// SleepMs(1) would).
void PollPauseUs(uint32_t us);

// Unit tests replace the clock and the sleeps above so that long protocol waits take no real
// time; null restores the system's. Production code never calls this.
struct TestClock {
    uint64_t (*nowUs)(void* context);
    void (*sleepUs)(void* context, uint64_t us);
    void* context;
};
void SetTestClock(const TestClock* clock);
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();

// ---- Background threads of a library ----------------------------------------------------------
// Runs fn(context) on a thread that never runs the library's code once the library is gone. On
// Windows the thread holds a reference to the library from before it starts until its very last
// step, so a host's FreeLibrary meanwhile only lowers the count and the library goes when the
// thread has ended (the loader lock forbids waiting for a thread while the library unloads). A
// POSIX thread cannot drop such a reference without returning into the library, so there the
// library's unload hook calls stop(context) and waits for the thread, at dlclose and at process
// exit alike, before the library's code and static objects go. stop must make fn return soon; it
// may run on any thread. False when no thread could be started.
bool StartLibraryThread(void (*fn)(void*), void (*stop)(void*), void* context);

// ---- Diagnostics -------------------------------------------------------------------------
void DebugOutput(const char* text);
// True when standard output is a terminal (a console), where progress can be redrawn in place.
bool StdoutIsTerminal();

// ---- Per-thread text ---------------------------------------------------------------------
// A text slot per thread, freed when the thread ends. One slot per loaded copy of the
// library that owns it; ThreadTextShutdown releases it before the library goes away.
void SetThreadText(const std::string& text);
std::string GetThreadText();
void ThreadTextShutdown();

// ---- Libraries ---------------------------------------------------------------------------
using LibraryHandle = void*;
// Loads a shared library by path (a bare name uses the system's search). Null on failure.
LibraryHandle LoadLibraryFile(const std::string& path);
void* GetLibrarySymbol(LibraryHandle lib, const char* name);
void FreeLibraryFile(LibraryHandle lib);
// File-name suffix of shared libraries on this platform: ".dll" or ".so".
const char* SharedLibrarySuffix();
// The library a load of path would give if it is loaded already, found without loading it and
// without counting a reference; null when it is not loaded.
LibraryHandle LoadedLibrary(const std::string& path);
// Full path of a loaded library; empty when unknown.
std::string LibraryPath(LibraryHandle lib);
// Keeps the library (or program) that contains this code in the process until it ends, for a
// thread of it that is left running where it cannot be waited for.
void PinThisLibrary();

// ---- Notes that outlive a library -----------------------------------------------------------
// A small block of memory that only this process sees, in one of numbered slots under a name,
// which stays when the library that made it is unloaded, so that a later copy of a library in
// the same process finds what an earlier one left. Windows: a named file mapping of the session's
// local namespace, which lives while a handle to it is open (a library that goes without
// releasing its view leaves that handle open, and so the note). POSIX: a shared-memory object,
// which lives until it is removed. Names carry the process id and the time the process started,
// so a note of another process (one that ended, one whose id came back, a parent's) is never
// opened; on POSIX the first note a library creates removes those that ended processes left.
struct ProcessNote {
    void* memory = nullptr;  // the note's bytes (zero-filled when it was created)
    size_t size = 0;
    uint64_t handle = 0;     // the system's handle behind this view (Windows; 0 on POSIX)
};
// Creates a note of size bytes in the first free slot below slotCount. False when none is free
// or the system refuses.
bool CreateProcessNote(const std::string& name, uint32_t slotCount, size_t size, ProcessNote* note, uint32_t* slot);
// Opens the note in slot; false when there is none of at least size bytes.
bool OpenProcessNote(const std::string& name, uint32_t slot, size_t size, ProcessNote* note);
// Gives up one view of a note: a view of this library's, or one that a copy which is gone left
// open (memory and handle are valid anywhere in the process until given up).
void ReleaseProcessNote(const ProcessNote& view);
// Takes the note's name away, so that it goes with its last view (POSIX; on Windows a note
// has no existence beyond its views).
void RemoveProcessNote(const std::string& name, uint32_t slot);


// ---- INI files ---------------------------------------------------------------------------
// Windows private-profile semantics: sections and keys without regard to case, the first
// match wins, values trimmed, a missing file or key gives the default. Writing creates the
// file, section and key as needed and keeps the rest of the file intact.
int ProfileGetInt(const std::string& section, const std::string& key, int defaultValue, const std::string& iniPath);
// The value cut to bufferSize - 1 bytes, as the Windows function does with its buffer.
std::string ProfileGetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                             const std::string& iniPath, size_t bufferSize = 256);
bool ProfileWriteString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& iniPath);
// Removes a key, or a section with all its keys. True when it is gone afterwards (also when it
// was never there); false when the file cannot be written.
bool ProfileDeleteKey(const std::string& section, const std::string& key, const std::string& iniPath);
bool ProfileDeleteSection(const std::string& section, const std::string& iniPath);
// Makes earlier writes visible to other processes that read the file.
void ProfileFlush(const std::string& iniPath);

// ---- Named cross-process mutex ------------------------------------------------------------
// Creates (not owned) or opens a named mutex that other processes see; *alreadyExisted tells
// whether another holder had created it. Null on failure. The object goes away when its last
// holder closes it or ends.
void* CreateNamedMutex(const std::string& name, bool* alreadyExisted);
void CloseNamedMutex(void* handle);

// ---- Processes -----------------------------------------------------------------------------
// Starts a program without a console window and without inherited handles, and forgets it.
// commandLine follows the Windows quoting rules and includes the program itself.
bool StartDetachedProcess(const std::string& exePath, const std::string& commandLine);
// Runs a program to its end with its standard output and error written to outputPath; its exit
// code, or -1 when it did not start or had to be stopped after timeoutMs.
int RunProgram(const std::string& exePath, const std::string& commandLine, const std::string& outputPath,
               uint32_t timeoutMs);

// ---- Process resources -------------------------------------------------------------------
// What the whole process holds now, for checks that long runs do not grow: open handles (file
// descriptors on POSIX), threads, and the bytes in use on its heaps (the resident set where the
// C library cannot tell).
struct ProcessResources {
    uint64_t handles = 0;
    uint64_t threads = 0;
    uint64_t memoryBytes = 0;
};
ProcessResources CurrentProcessResources();
// CPU time (user and kernel) the calling thread has used, in microseconds.
uint64_t ThreadCpuUs();

// ---- Crash guard ---------------------------------------------------------------------------
// Runs fn(context). A crash inside it (access violation and the like) is caught, the thread
// goes on, and the result is false with the exception code (POSIX: the signal number).
// Crashes outside a guarded call reach the host as before.
bool RunGuarded(void (*fn)(void*), void* context, uint32_t* exceptionCode);
// The same guard for calls made on every message, without a system call: on POSIX the crash
// handlers are not installed again (RunGuarded does that on every call), so a handler the host
// sets up later takes precedence until the next RunGuarded.
bool RunGuardedQuick(void (*fn)(void*), void* context, uint32_t* exceptionCode);
// Copies memory that a host handed in (or back into it) under the quick guard: false when it
// could not be accessed.
bool CopyGuarded(void* to, const void* from, size_t length);

#if defined(_WIN32)
// ---- Registry (HKEY_LOCAL_MACHINE) ----------------------------------------------------------
// Keys are paths below HKEY_LOCAL_MACHINE ("SOFTWARE\\..."). viewBits 32 or 64 picks the registry
// that 32-bit or 64-bit programs see on 64-bit Windows (32-bit Windows has only one; the flag is
// then ignored); 0 is the calling program's own.
enum class RegistryResult { Ok, NotFound, AccessDenied, Failed };
struct RegistryValue {
    enum class Kind { String, Dword, Other };
    std::string name;
    Kind kind = Kind::Other;
    std::string text;     // Kind::String
    uint32_t number = 0;  // Kind::Dword
};
RegistryResult RegistryListSubkeys(const std::string& key, int viewBits, std::vector<std::string>* names);
RegistryResult RegistryReadValues(const std::string& key, int viewBits, std::vector<RegistryValue>* values);
// Creates the key (and its parents) when needed. Only String and Dword values are written.
RegistryResult RegistryWriteValue(const std::string& key, int viewBits, const RegistryValue& value);
// A value or key that is already gone counts as deleted.
RegistryResult RegistryDeleteValue(const std::string& key, int viewBits, const std::string& name);
// Deletes the key only when it holds neither values nor subkeys.
RegistryResult RegistryDeleteKeyIfEmpty(const std::string& key, int viewBits);
#endif

// ---- IPv4 sockets --------------------------------------------------------------------------
// Winsock 2 on Windows, BSD sockets elsewhere. Addresses are IPv4 in host byte order, ports in
// host order. Sockets block unless a call says otherwise; no call raises a signal.
using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts the socket library once per process (Winsock 2.2); false when that failed, now or
// at the first call.
bool SocketsStart();
// A strict dotted quad ("192.168.0.10": four decimal parts 0-255 without leading zeros).
bool ParseIpv4(const std::string& text, uint32_t* address);
std::string FormatIpv4(uint32_t address);

SocketHandle OpenTcpSocket();
// A datagram socket that may send to broadcast addresses. On Windows an unreachable port
// reported for an earlier datagram does not fail the next receive.
SocketHandle OpenUdpSocket();
bool SocketBind(SocketHandle s, uint32_t address, uint16_t port);
// The address and port the socket is bound to (a port chosen by the system when 0 was asked).
bool SocketLocalAddress(SocketHandle s, uint32_t* address, uint16_t* port);
bool SocketListen(SocketHandle s, int backlog);
SocketHandle SocketAccept(SocketHandle s, uint32_t* peerAddress, uint16_t* peerPort);
// Sends each write at once instead of gathering small ones (no Nagle delay).
bool SocketSetNoDelay(SocketHandle s);
// A send that cannot hand its bytes over within timeoutMs (a peer that stopped reading) fails.
bool SocketSetSendTimeout(SocketHandle s, uint32_t timeoutMs);

enum class ConnectResult { Connected, Failed, TimedOut };
// Connects a TCP socket, waiting at most timeoutMs for the peer; the socket blocks again after.
ConnectResult SocketConnect(SocketHandle s, uint32_t address, uint16_t port, uint32_t timeoutMs);

// Bytes sent (possibly fewer than asked), or 0 or less on failure.
int SocketSend(SocketHandle s, const void* data, size_t length);
// Bytes received, 0 when the peer closed the stream, below 0 on failure.
int SocketReceive(SocketHandle s, void* buffer, size_t length);
int SocketSendTo(SocketHandle s, const void* data, size_t length, uint32_t address, uint16_t port);
// One datagram; a longer one is cut to length (and length is returned).
int SocketReceiveFrom(SocketHandle s, void* buffer, size_t length, uint32_t* fromAddress, uint16_t* fromPort);
// 1 when a receive would not block (data, end of stream or an error), 0 after timeoutMs,
// below 0 on failure.
int SocketWaitReadable(SocketHandle s, uint32_t timeoutMs);
// Ends both directions; a receive blocked on the socket in another thread returns.
void SocketShutdown(SocketHandle s);
void SocketClose(SocketHandle s);

}  // namespace platform

// Implemented by each library that links the platform's entry-point file (the driver, the
// 02.02 adapter): called once when the library is loaded into a process and once when it is
// unloaded. processEnding tells an unload at process exit, when other libraries may already
// have been shut down, from an explicit unload by the host.
void LibraryAttach();
void LibraryDetach(bool processEnding);
