#include "driver/api/host_memory.h"

#include <cstring>

#include "platform/platform.h"

namespace {
struct Copy {
    void* to;
    const void* from;
    size_t length;
};

void DoCopy(void* context) {
    const Copy* c = static_cast<const Copy*>(context);
    std::memcpy(c->to, c->from, c->length);
}

bool GuardedCopy(void* to, const void* from, size_t length) {
    if (length == 0) return true;
    Copy c{to, from, length};
    return platform::RunGuarded(&DoCopy, &c, nullptr);
}
}  // namespace

bool CopyFromHost(void* to, const void* hostFrom, size_t length) { return GuardedCopy(to, hostFrom, length); }
bool CopyToHost(void* hostTo, const void* from, size_t length) { return GuardedCopy(hostTo, from, length); }
