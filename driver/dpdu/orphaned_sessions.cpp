// Releasing what a copy of the driver that was unloaded without PassThruClose left in the vendor
// library. The teardown runs on a thread of its own, one guarded call after another, so that a
// call that never returns costs the bring-up a bounded wait instead of the host's thread; such a
// thread is left where it hangs, with this library kept in the process for it to return into.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dpdu_api/pdu_api.h"
#include "driver/dpdu/session_note.h"
#include "driver/log/log.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kStepLimitMs = 5000;
const char kPrefix[] = "Orphaned D-PDU session: ";

enum class StepKind { CancelComPrimitive, Disconnect, DestroyLink, ModuleDisconnect, Destruct };

struct Step {
    StepKind kind;
    uint32_t hMod;
    uint32_t hCLL;
    uint32_t hCoP;
    void* fn;  // the vendor's entry point; null when it does not export it
    uint32_t code;
    bool crashed;
    uint32_t exceptionCode;
};

const char* FunctionName(StepKind kind) {
    switch (kind) {
        case StepKind::CancelComPrimitive: return "PDUCancelComPrimitive";
        case StepKind::Disconnect: return "PDUDisconnect";
        case StepKind::DestroyLink: return "PDUDestroyComLogicalLink";
        case StepKind::ModuleDisconnect: return "PDUModuleDisconnect";
        default: return "PDUDestruct";
    }
}

void RunStep(void* p) {
    Step* s = static_cast<Step*>(p);
    switch (s->kind) {
        case StepKind::CancelComPrimitive:
            s->code = reinterpret_cast<PDUCancelComPrimitiveFn>(s->fn)(s->hMod, s->hCLL, s->hCoP);
            break;
        case StepKind::Disconnect:
            s->code = reinterpret_cast<PDUDisconnectFn>(s->fn)(s->hMod, s->hCLL);
            break;
        case StepKind::DestroyLink:
            s->code = reinterpret_cast<PDUDestroyComLogicalLinkFn>(s->fn)(s->hMod, s->hCLL);
            break;
        case StepKind::ModuleDisconnect:
            s->code = reinterpret_cast<PDUModuleDisconnectFn>(s->fn)(s->hMod);
            break;
        case StepKind::Destruct:
            s->code = reinterpret_cast<PDUDestructFn>(s->fn)();
            break;
    }
}

// Shared by the thread that tears down and the one that waits for it, which may give up on it.
struct Teardown {
    std::mutex lock;
    std::condition_variable progress;
    std::vector<Step> steps;
    size_t done = 0;
    bool abandoned = false;
};

void RunTeardown(std::shared_ptr<Teardown> t) {
    for (size_t i = 0; i < t->steps.size(); ++i) {
        Step step;
        {
            std::lock_guard<std::mutex> lock(t->lock);
            if (t->abandoned) return;
            step = t->steps[i];
        }
        if (step.fn) step.crashed = !platform::RunGuarded(&RunStep, &step, &step.exceptionCode);
        std::lock_guard<std::mutex> lock(t->lock);
        t->steps[i] = step;
        ++t->done;
        t->progress.notify_all();
    }
}

std::string StepText(const Step& s) {
    char text[160];
    switch (s.kind) {
        case StepKind::CancelComPrimitive:
            std::snprintf(text, sizeof text, "%s hMod=%u hCLL=%u hCoP=%u", FunctionName(s.kind), s.hMod, s.hCLL,
                          s.hCoP);
            break;
        case StepKind::Disconnect:
        case StepKind::DestroyLink:
            std::snprintf(text, sizeof text, "%s hMod=%u hCLL=%u", FunctionName(s.kind), s.hMod, s.hCLL);
            break;
        case StepKind::ModuleDisconnect:
            std::snprintf(text, sizeof text, "%s hMod=%u", FunctionName(s.kind), s.hMod);
            break;
        default:
            std::snprintf(text, sizeof text, "%s", FunctionName(s.kind));
            break;
    }
    return text;
}

void LogStep(const Step& s) {
    const std::string call = StepText(s);
    if (!s.fn)
        LogPrintf("%s%s: not exported, skipped", kPrefix, call.c_str());
    else if (s.crashed)
        LogPrintf("%s%s -> exception=0x%X", kPrefix, call.c_str(), s.exceptionCode);
    else
        LogPrintf("%s%s -> 0x%x", kPrefix, call.c_str(), s.code);
}

// The calls of a clean close, in its order, for what the note holds.
std::vector<Step> StepsFor(const SessionNote& note, platform::LibraryHandle vendor) {
    auto entry = [&](StepKind kind) { return platform::GetLibrarySymbol(vendor, FunctionName(kind)); };
    std::vector<Step> steps;
    auto add = [&](StepKind kind, uint32_t hMod, uint32_t hCLL, uint32_t hCoP) {
        steps.push_back(Step{kind, hMod, hCLL, hCoP, entry(kind), 0, false, 0});
    };
    for (const NotedHandle& c : note.comPrimitives)
        if (c.inUse) add(StepKind::CancelComPrimitive, c.hMod, c.hCLL, c.hCoP);
    for (const NotedHandle& l : note.links) {
        if (!l.inUse) continue;
        add(StepKind::Disconnect, l.hMod, l.hCLL, 0);
        add(StepKind::DestroyLink, l.hMod, l.hCLL, 0);
    }
    for (const NotedHandle& m : note.modules)
        if (m.inUse) add(StepKind::ModuleDisconnect, m.hMod, 0, 0);
    if (note.constructed) add(StepKind::Destruct, 0, 0, 0);
    return steps;
}

// Runs the teardown; false when a step did not return in time (the library must then stay).
bool TearDown(std::vector<Step> steps) {
    auto t = std::make_shared<Teardown>();
    t->steps = std::move(steps);
    std::thread worker(&RunTeardown, t);
    std::unique_lock<std::mutex> lock(t->lock);
    for (size_t i = 0; i < t->steps.size(); ++i) {
        if (!t->progress.wait_for(lock, std::chrono::milliseconds(kStepLimitMs), [&] { return t->done > i; })) {
            t->abandoned = true;
            LogPrintf("%s%s did not return within %u ms; the vendor library stays loaded", kPrefix,
                      StepText(t->steps[i]).c_str(), kStepLimitMs);
            lock.unlock();
            // The thread may still come back into this library's code.
            platform::PinThisLibrary();
            worker.detach();
            return false;
        }
        LogStep(t->steps[i]);
    }
    lock.unlock();
    worker.join();
    return true;
}

// A path of the note, which another copy wrote: read no further than its field.
std::string NoteText(const char (&text)[1024]) { return std::string(text, std::find(text, text + sizeof text, '\0')); }

size_t Count(const NotedHandle* list, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) count += list[i].inUse ? 1 : 0;
    return count;
}

// A note of this process in the current layout, held by a copy of the driver that is gone.
bool IsOrphan(const SessionNote& note, platform::LibraryHandle self) {
    if (note.magic != kSessionNoteMagic || note.layout != kSessionNoteLayout) return false;
    if (note.processId != platform::CurrentProcessId() || note.state.load() != kNoteHeld) return false;
    if (IsThisCopysNote(note)) return false;
    // The copy at that path now is this one, or none: the writer is gone.
    const std::string ownerPath = NoteText(note.ownerPath);
    if (ownerPath.empty()) return false;
    const platform::LibraryHandle owner = platform::LoadedLibrary(ownerPath);
    return !owner || owner == self;
}

void Release(const SessionNote& note) {
    const std::string vendorPath = NoteText(note.vendorPath);
    const platform::LibraryHandle vendor = platform::LoadedLibrary(vendorPath);
    if (!vendor || reinterpret_cast<uintptr_t>(vendor) != note.vendorLibrary) {
        LogPrintf("%s'%s' is no longer loaded; note cleared", kPrefix, vendorPath.c_str());
        return;
    }
    LogPrintf("%sleft by '%s' in '%s': %u ComPrimitives, %u links, %u modules, %s", kPrefix, NoteText(note.ownerPath).c_str(),
              vendorPath.c_str(), static_cast<unsigned>(Count(note.comPrimitives, kNotedComPrimitives)),
              static_cast<unsigned>(Count(note.links, kNotedLinks)),
              static_cast<unsigned>(Count(note.modules, kNotedModules)),
              note.constructed ? "constructed" : "not constructed");
    if (!TearDown(StepsFor(note, vendor))) return;
    platform::FreeLibraryFile(vendor);
    LogPrintf("%sreleased '%s'", kPrefix, vendorPath.c_str());
}

}  // namespace

void ReleaseOrphanedSessions() {
    const platform::LibraryHandle self = platform::LoadedLibrary(platform::ThisModulePath());
    uint32_t empty = 0;
    for (uint32_t slot = 0; slot < kSessionNoteSlots && empty < kSessionNoteGap; ++slot) {
        platform::ProcessNote view;
        if (!platform::OpenProcessNote(kSessionNoteName, slot, sizeof(SessionNote), &view)) {
            ++empty;
            continue;
        }
        empty = 0;
        SessionNote* note = static_cast<SessionNote*>(view.memory);
        uint32_t held = kNoteHeld;
        if (!IsOrphan(*note, self) || !note->state.compare_exchange_strong(held, kNoteTaken)) {
            platform::ReleaseProcessNote(view);
            continue;
        }
        Release(*note);
        // The copy that wrote the note left its view, and on Windows the handle behind it, open.
        const platform::ProcessNote left{reinterpret_cast<void*>(static_cast<uintptr_t>(note->noteMemory)),
                                         static_cast<size_t>(note->noteSize), note->noteHandle};
        platform::ReleaseProcessNote(view);
        platform::ReleaseProcessNote(left);
        platform::RemoveProcessNote(kSessionNoteName, slot);
    }
}
