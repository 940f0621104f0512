// Crash guard on Windows. MSVC has __try/__except; mingw-w64 has not, so there the guard
// builds the same frame-based handler itself: on 32-bit x86 it registers its own frame on the
// thread's SEH chain (fs:[0]) for the length of the call; on x86-64, where handlers are found
// through the unwind tables, a small call stub declares its own exception handler. Frame-based
// handling keeps the usual order: handlers inside the vendor library see an exception first,
// ours only claims what would otherwise leave the call, and a crash outside a guarded call
// never meets it.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

#if defined(_MSC_VER)

bool RunGuarded(void (*fn)(void*), void* context, uint32_t* exceptionCode) {
    if (exceptionCode) *exceptionCode = 0;
    if (!fn) return true;
    __try {
        fn(context);
    } __except (EXCEPTION_EXECUTE_HANDLER) {
        if (exceptionCode) *exceptionCode = GetExceptionCode();
        return false;
    }
    return true;
}

#elif defined(__i386__)

namespace {

struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD record;  // first: the chain points at it
    void* resume[5];                       // __builtin_setjmp buffer
    DWORD code;
};

EXCEPTION_REGISTRATION_RECORD* ChainHead() {
    EXCEPTION_REGISTRATION_RECORD* head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(EXCEPTION_REGISTRATION_RECORD* head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

// RtlUnwind calls the unwind handlers of every frame above ours (the vendor's __finally
// blocks and destructors, the dispatcher's own frame) and leaves our record at the head of
// the chain. It is not guaranteed to keep ebx/esi/edi, hence the call through asm.
void UnwindTo(GuardFrame* frame, EXCEPTION_RECORD* record) {
    void* unwind = reinterpret_cast<void*>(&RtlUnwind);
    __asm__ __volatile__(
        "movl %0, %%eax\n\t"
        "movl %1, %%ecx\n\t"
        "movl %2, %%edx\n\t"
        "pushl $0\n\t"
        "pushl %%ecx\n\t"
        "pushl $0\n\t"
        "pushl %%eax\n\t"
        "call *%%edx\n\t"
        :
        : "m"(frame), "m"(record), "m"(unwind)
        : "eax", "ebx", "ecx", "edx", "esi", "edi", "memory", "cc");
}

// Claims the exception for the guarded call, like __except(EXCEPTION_EXECUTE_HANDLER): the
// frames above ours are unwound, then execution resumes in RunGuarded.
EXCEPTION_DISPOSITION NTAPI GuardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT*, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    GuardFrame* frame = static_cast<GuardFrame*>(establisher);
    frame->code = record->ExceptionCode;
    UnwindTo(frame, record);
    SetChainHead(&frame->record);
    __builtin_longjmp(frame->resume, 1);
}

}  // namespace

bool RunGuarded(void (*fn)(void*), void* context, uint32_t* exceptionCode) {
    if (exceptionCode) *exceptionCode = 0;
    if (!fn) return true;
    GuardFrame frame;
    frame.code = 0;
    frame.record.Next = ChainHead();
    frame.record.Handler = &GuardHandler;
    if (__builtin_setjmp(frame.resume) == 0) {
        SetChainHead(&frame.record);
        fn(context);
        SetChainHead(frame.record.Next);
        return true;
    }
    // Back from GuardHandler: the unwind left our record at the head; take it off.
    SetChainHead(frame.record.Next);
    if (exceptionCode) *exceptionCode = frame.code;
    return false;
}

#elif defined(__x86_64__)

// GuardedCall(fn, context) calls fn(context) and returns 0. An exception that leaves fn reaches
// GuardHandler, which unwinds the frames above the stub (running their unwind handlers) and
// resumes at GuardResume with the exception code plus bit 32 as the result.
extern "C" uint64_t OrvexGuardedCall(void (*fn)(void*), void* context);
extern "C" char OrvexGuardResume[];

extern "C" EXCEPTION_DISPOSITION OrvexGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                                   CONTEXT* context, void* dispatcherContext) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    auto* dispatcher = static_cast<DISPATCHER_CONTEXT*>(dispatcherContext);
    uint64_t result = (uint64_t{1} << 32) | record->ExceptionCode;
    RtlUnwindEx(establisherFrame, OrvexGuardResume, record, reinterpret_cast<void*>(result), context,
                dispatcher->HistoryTable);
    return ExceptionContinueSearch;  // not reached
}

asm(R"(
    .text
    .globl OrvexGuardedCall
    .globl OrvexGuardResume
    .def OrvexGuardedCall; .scl 2; .type 32; .endef
    .seh_proc OrvexGuardedCall
OrvexGuardedCall:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler OrvexGuardHandler, @except
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
OrvexGuardResume:
    nop
    addq $40, %rsp
    ret
    .seh_endproc
)");

bool RunGuarded(void (*fn)(void*), void* context, uint32_t* exceptionCode) {
    if (exceptionCode) *exceptionCode = 0;
    if (!fn) return true;
    uint64_t result = OrvexGuardedCall(fn, context);
    if (result == 0) return true;
    if (exceptionCode) *exceptionCode = static_cast<uint32_t>(result);
    return false;
}

#else
#error "The crash guard needs __try (MSVC) or the x86 SEH chain."
#endif

// An SEH frame costs next to nothing here, so the quick guard is the full one.
bool RunGuardedQuick(void (*fn)(void*), void* context, uint32_t* exceptionCode) {
    return RunGuarded(fn, context, exceptionCode);
}

}  // namespace platform
