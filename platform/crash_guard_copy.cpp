// Copies of host memory under the quick crash guard, the same on every system.
#include <cstring>

#include "platform/platform.h"

namespace platform {

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
}  // namespace

bool CopyGuarded(void* to, const void* from, size_t length) {
    if (length == 0) return true;
    Copy c{to, from, length};
    return RunGuardedQuick(&DoCopy, &c, nullptr);
}

}  // namespace platform
