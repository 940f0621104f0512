// The note a copy of the driver keeps, while it holds a construction of the vendor library, of
// what it holds there: in a platform::ProcessNote, which outlives the copy, so that a later copy
// loaded into the same process can release what one unloaded without PassThruClose left behind.
// Copies of the driver read each other's notes: the layout is plain and versioned.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

constexpr char kSessionNoteName[] = "Orvex_J2534.DpduSession";
// Notes go into the first free slot; a search ends after kSessionNoteGap empty slots in a row.
constexpr uint32_t kSessionNoteSlots = 256;
constexpr uint32_t kSessionNoteGap = 16;
constexpr uint32_t kSessionNoteMagic = 0x4F44534Eu;
constexpr uint32_t kSessionNoteLayout = 1;

// A note is written while BeingWritten, stands while Held, and is Taken by the copy releasing it.
enum SessionNoteState : uint32_t { kNoteBeingWritten = 0, kNoteHeld = 1, kNoteTaken = 2 };

constexpr uint32_t kNotedModules = 8;
constexpr uint32_t kNotedLinks = 32;
constexpr uint32_t kNotedComPrimitives = 16;  // the latest ones still running

// A connected module (hMod), a link (hMod, hCLL) or a ComPrimitive (all three).
struct NotedHandle {
    uint32_t inUse;
    uint32_t hMod;
    uint32_t hCLL;
    uint32_t hCoP;
};

struct SessionNote {
    std::atomic<uint32_t> state;
    uint32_t magic;
    uint32_t layout;
    uint32_t processId;
    char ownerPath[1024];       // the file of the copy that wrote the note
    char vendorPath[1024];      // the vendor library's file...
    uint64_t vendorLibrary;     // ...and that copy's handle (reference) of it
    uint64_t noteMemory;        // that copy's view of this note
    uint64_t noteSize;
    uint64_t noteHandle;
    uint32_t constructed;       // PDUConstruct succeeded and PDUDestruct has not run since
    uint32_t nextComPrimitive;  // where the next one goes, round the ring
    NotedHandle modules[kNotedModules];
    NotedHandle links[kNotedLinks];
    NotedHandle comPrimitives[kNotedComPrimitives];
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the state is shared between copies of the driver");

// This copy's note, kept by the calls into the vendor library. Without a note (none could be
// made) they do nothing.
void NoteConstructed(platform::LibraryHandle vendorLibrary);
void NoteModule(uint32_t hMod, bool connected);
void NoteLink(uint32_t hMod, uint32_t hCLL, bool exists);
void NoteComPrimitiveStarted(uint32_t hMod, uint32_t hCLL, uint32_t hCoP);
void NoteComPrimitiveEnded(uint32_t hCoP);
// The vendor library was let go: the note goes.
void NoteReleased();
// Whether note is the one this copy keeps (found again through another view).
bool IsThisCopysNote(const SessionNote& note);

// Before the backend comes up: every note a copy of the driver that is gone left behind is
// released. Its vendor library, when still loaded, gets the teardown of a clean close (one log
// line per step, "Orphaned D-PDU session: ...") and loses the reference the copy held.
void ReleaseOrphanedSessions();
