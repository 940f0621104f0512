// This copy's note of what it holds in the vendor library. Written on the calls that change it,
// under a leaf lock; read only by a later copy once this one is gone, so nothing here waits for
// another copy.
#include "driver/dpdu/session_note.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "driver/dpdu/dpdu_backend.h"
#include "driver/log/log.h"
#include "platform/platform.h"

namespace {

std::mutex g_noteLock;
platform::ProcessNote g_view;
uint32_t g_slot = 0;
SessionNote* g_note = nullptr;
// g_slot while a note stands, read without the lock at process exit; -1 without one.
std::atomic<int64_t> g_standingSlot{-1};

void CopyText(char (&to)[1024], const std::string& from) {
    const size_t n = from.size() < sizeof to - 1 ? from.size() : sizeof to - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

template <size_t N>
NotedHandle* Find(NotedHandle (&list)[N], uint32_t hMod, uint32_t hCLL, uint32_t hCoP) {
    for (NotedHandle& h : list)
        if (h.inUse && h.hMod == hMod && h.hCLL == hCLL && h.hCoP == hCoP) return &h;
    return nullptr;
}

// A list that is full drops the entry: the later copy then releases less, never something wrong.
template <size_t N>
void Add(NotedHandle (&list)[N], uint32_t hMod, uint32_t hCLL, uint32_t hCoP) {
    if (Find(list, hMod, hCLL, hCoP)) return;
    for (NotedHandle& h : list) {
        if (h.inUse) continue;
        h = NotedHandle{1, hMod, hCLL, hCoP};
        return;
    }
}

void ReleaseLocked() {
    if (!g_note) return;
    g_note->state = kNoteTaken;
    g_standingSlot = -1;
    platform::ReleaseProcessNote(g_view);
    platform::RemoveProcessNote(kSessionNoteName, g_slot);
    g_note = nullptr;
    g_view = platform::ProcessNote{};
}

}  // namespace

void NoteConstructed(platform::LibraryHandle vendorLibrary) {
    std::lock_guard<std::mutex> lock(g_noteLock);
    ReleaseLocked();
    platform::ProcessNote view;
    uint32_t slot = 0;
    if (!platform::CreateProcessNote(kSessionNoteName, kSessionNoteSlots, sizeof(SessionNote), &view, &slot)) {
        WriteLogLine("Dpdu_Init: no process note for this session (an unload without PassThruClose will keep the VCI)");
        return;
    }
    // The memory comes zero-filled, so every entry starts free and the state BeingWritten.
    SessionNote* note = new (view.memory) SessionNote;
    note->magic = kSessionNoteMagic;
    note->layout = kSessionNoteLayout;
    note->processId = platform::CurrentProcessId();
    CopyText(note->ownerPath, platform::ThisModulePath());
    CopyText(note->vendorPath, platform::LibraryPath(vendorLibrary));
    note->vendorLibrary = reinterpret_cast<uintptr_t>(vendorLibrary);
    note->noteMemory = reinterpret_cast<uintptr_t>(view.memory);
    note->noteSize = view.size;
    note->noteHandle = view.handle;
    note->constructed = 1;
    note->state = kNoteHeld;
    g_view = view;
    g_slot = slot;
    g_note = note;
    g_standingSlot = slot;
}

void NoteModule(uint32_t hMod, bool connected) {
    std::lock_guard<std::mutex> lock(g_noteLock);
    if (!g_note) return;
    if (connected) {
        Add(g_note->modules, hMod, 0, 0);
        return;
    }
    if (NotedHandle* h = Find(g_note->modules, hMod, 0, 0)) h->inUse = 0;
    // A module's links go with it.
    for (NotedHandle& l : g_note->links)
        if (l.hMod == hMod) l.inUse = 0;
    for (NotedHandle& c : g_note->comPrimitives)
        if (c.hMod == hMod) c.inUse = 0;
}

void NoteLink(uint32_t hMod, uint32_t hCLL, bool exists) {
    std::lock_guard<std::mutex> lock(g_noteLock);
    if (!g_note) return;
    if (exists) {
        Add(g_note->links, hMod, hCLL, 0);
        return;
    }
    if (NotedHandle* h = Find(g_note->links, hMod, hCLL, 0)) h->inUse = 0;
    for (NotedHandle& c : g_note->comPrimitives)
        if (c.hMod == hMod && c.hCLL == hCLL) c.inUse = 0;
}

void NoteComPrimitiveStarted(uint32_t hMod, uint32_t hCLL, uint32_t hCoP) {
    std::lock_guard<std::mutex> lock(g_noteLock);
    if (!g_note) return;
    // The oldest one gives way: by then it has long finished.
    g_note->comPrimitives[g_note->nextComPrimitive++ % kNotedComPrimitives] = NotedHandle{1, hMod, hCLL, hCoP};
}

void NoteComPrimitiveEnded(uint32_t hCoP) {
    std::lock_guard<std::mutex> lock(g_noteLock);
    if (!g_note) return;
    for (NotedHandle& c : g_note->comPrimitives)
        if (c.inUse && c.hCoP == hCoP) c.inUse = 0;
}

void NoteReleased() {
    std::lock_guard<std::mutex> lock(g_noteLock);
    ReleaseLocked();
}

bool IsThisCopysNote(const SessionNote& note) {
    std::lock_guard<std::mutex> lock(g_noteLock);
    return g_note && reinterpret_cast<uintptr_t>(g_note) == note.noteMemory;
}

void Dpdu_ProcessEnding() {
    const int64_t slot = g_standingSlot.load();
    if (slot >= 0) platform::RemoveProcessNote(kSessionNoteName, static_cast<uint32_t>(slot));
}
