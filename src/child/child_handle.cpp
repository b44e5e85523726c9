#include "child/child_handle.h"

#include <atomic>

static std::atomic<kay_process> g_child{};
static std::atomic<int> g_references{0};

void child_handle_publish(kay_process process) {
    g_child.store(process);
    g_references.store(1);
}

kay_process child_handle_acquire(void) {
    int references = g_references.load();
    while (references > 0) {
        if (g_references.compare_exchange_weak(references, references + 1)) return g_child.load();
    }
    return kay_process{};
}

void child_handle_release(kay_process process) {
    if (g_references.fetch_sub(1) == 1) {
        g_child.store(kay_process{});
        kay_sys.close_process(process);
    }
}
