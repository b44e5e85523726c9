// The core's heap blocks, seen through the link's --wrap=malloc,--wrap=free
// (which reaches the statically linked core, not the C++ runtime or the
// shared libraries).
#include "fuzz_common.h"

#include <cstddef>
#include <unordered_set>

extern "C" void* __real_malloc(std::size_t size);
extern "C" void __real_free(void* block);

namespace {

bool g_tracking;

std::unordered_set<void*>& held() {
    static std::unordered_set<void*> blocks;
    return blocks;
}

}  // namespace

extern "C" void* __wrap_malloc(std::size_t size) {
    void* block = __real_malloc(size);
    if (g_tracking && block != nullptr) held().insert(block);
    return block;
}

extern "C" void __wrap_free(void* block) {
    if (block != nullptr) held().erase(block);
    __real_free(block);
}

namespace kay_fuzz {

void begin_input() {
    kay_exit_hook = throw_exit;
    g_tracking = true;
}

void end_input(bool exited) {
    g_tracking = false;
    if (held().empty()) return;
    if (!exited) finding();
    for (void* block : held()) __real_free(block);
    held().clear();
}

}  // namespace kay_fuzz
