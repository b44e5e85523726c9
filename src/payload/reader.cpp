#include "payload/reader.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_WINDOWLOG_LIMIT_DEFAULT
#include <zstd.h>

#include <cstdlib>
#include <cstring>

#include "common/report.h"
#include "format/format.h"

// The decoder keeps its default parameters; the format's window limit is theirs.
static_assert(ZSTD_WINDOWLOG_LIMIT_DEFAULT == KAY_WINDOW_LOG);

static ZSTD_DCtx* g_context;
static ZSTD_inBuffer g_input;
static ZSTD_outBuffer g_window;

void setup(const unsigned char* input, std::size_t size) {
    void* window = std::malloc(KAY_WINDOW_SIZE);
    if (window == nullptr) fatal_error(MSG_NO_MEMORY);
    g_context = ZSTD_createDCtx();
    if (g_context == nullptr) fatal_error(MSG_NO_MEMORY);
    g_input.src = input;
    g_input.size = size;
    g_input.pos = 0;
    g_window.dst = window;
    g_window.size = 0;
    g_window.pos = 0;
}

// Decodes until the window holds something. `filled` says the last call of
// this request produced a full window, so the decoder may hold more output
// even with no input left.
static std::size_t refill(bool* filled) {
    std::size_t available = 0;
    while (available == 0) {
        if (g_input.pos < g_input.size || *filled) {
            g_window.pos = 0;
            g_window.size = KAY_WINDOW_SIZE;
            std::size_t result = ZSTD_decompressStream(g_context, &g_window, &g_input);
            if (ZSTD_isError(result)) fatal_error(MSG_DECODE);
            std::size_t produced = g_window.pos;
            *filled = produced == KAY_WINDOW_SIZE;
            g_window.size = produced;
            g_window.pos = 0;
            available = produced;
        } else {
            // Input used up (a truncated frame) or a position past the end:
            // bytes are still wanted and none can come.
            fatal_error(MSG_DECODE);
        }
    }
    return available;
}

void read_exact(void* destination, std::size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    bool filled = false;
    while (count > 0) {
        std::size_t available = g_window.size - g_window.pos;
        if (available == 0) available = refill(&filled);
        std::size_t take = available < count ? available : count;
        std::memcpy(out, static_cast<unsigned char*>(g_window.dst) + g_window.pos, take);
        g_window.pos += take;
        count -= take;
        out += take;
    }
}

void read_name(char16_t* buffer) {
    for (std::uint32_t i = 0;; i++) {
        // A name that fills the buffer without its terminator is corrupt.
        if (i >= KAY_NAME_CAPACITY) fatal_error(MSG_DECODE);
        unsigned char unit[2];
        read_exact(unit, 2);
        buffer[i] = static_cast<char16_t>(get_le(unit, 2));
        if (buffer[i] == 0) return;
    }
}

void teardown(void) {
    if (g_context != nullptr) ZSTD_freeDCtx(g_context);
    g_context = nullptr;
    std::free(g_window.dst);
    g_window.dst = nullptr;
}
