#include "payload/reader.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_WINDOWLOG_LIMIT_DEFAULT
#include <zstd.h>
#include <zstd_errors.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/report.h"
#include "format/format.h"
#include "platform/platform.h"

// The decoder keeps its default parameters; the format's window limit is theirs.
static_assert(ZSTD_WINDOWLOG_LIMIT_DEFAULT == KAY_WINDOW_LOG);

// Windows handed over from the decoding thread to the reading one: the one
// being read, and up to two decoded ahead.
constexpr unsigned SLOTS = 3;

// Input the decoder has passed is never read again: each 8 MiB of it is
// handed back, so a large payload's pages do not pile up in the launcher's
// resident set.
constexpr std::size_t RELEASE_STEP = std::size_t{8} << 20;

static ZSTD_DCtx* g_context;
static ZSTD_inBuffer g_input;
static std::size_t g_released;  // input bytes handed back
// The last decoder call filled its window, so it may hold more output even
// with no input left.
static bool g_filled;
static unsigned char* g_windows;  // SLOTS windows
// The decoder could not get the memory a frame's window asks for: that is
// reported as such, not as corrupt data.
static std::atomic<bool> g_out_of_memory;

// Decodes the next window into `out`: its size, or 0 when no byte can come
// (corrupt data, or the input used up). 0 ends the decoding.
static std::size_t decode_window(unsigned char* out) {
    while (g_input.pos < g_input.size || g_filled) {
        ZSTD_outBuffer window = {out, KAY_WINDOW_SIZE, 0};
        std::size_t result = ZSTD_decompressStream(g_context, &window, &g_input);
        if (ZSTD_isError(result)) {
            if (ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation) g_out_of_memory = true;
            return 0;
        }
        if (g_input.pos - g_released >= RELEASE_STEP) {
            kay_sys.release_data_block(static_cast<const unsigned char*>(g_input.src) + g_released,
                                       g_input.pos - g_released);
            g_released = g_input.pos;
        }
        g_filled = window.pos == KAY_WINDOW_SIZE;
        if (window.pos > 0) return window.pos;
    }
    return 0;
}

// The hand-over: the decoder fills slots in turn while `free` lets it, and
// adds to `decoded` for each; the reader takes them in the same turn and
// gives each back to `free` once read. A size of 0 marks the end.
static bool g_threaded;
static kay_semaphore g_free, g_decoded;
static kay_thread g_decoder;
static std::atomic<bool> g_stop;
static std::size_t g_size[SLOTS];
static unsigned g_head;  // the slot the reader takes next, or holds

static void decode_ahead(void*) {
    for (unsigned slot = 0;; slot = (slot + 1) % SLOTS) {
        kay_sys.semaphore_wait(g_free);
        if (g_stop) return;
        std::size_t n = decode_window(g_windows + slot * KAY_WINDOW_SIZE);
        g_size[slot] = n;
        kay_sys.semaphore_post(g_decoded);
        if (n == 0) return;
    }
}

// The window being read.
static const unsigned char* g_current;
static std::size_t g_current_size, g_current_pos;
static bool g_holding;  // the reader holds the slot at g_head (threaded)

// Moves to the next decoded window; past the end, bytes are still wanted
// and none can come.
static void next_window() {
    if (!g_threaded) {
        g_current_size = decode_window(g_windows);
    } else {
        if (g_holding) {
            kay_sys.semaphore_post(g_free);
            g_head = (g_head + 1) % SLOTS;
        }
        kay_sys.semaphore_wait(g_decoded);
        g_holding = true;
        g_current = g_windows + g_head * KAY_WINDOW_SIZE;
        g_current_size = g_size[g_head];
    }
    g_current_pos = 0;
    if (g_current_size == 0) fatal_error(g_out_of_memory ? MSG_NO_MEMORY : MSG_DECODE);
}

static void close_semaphores() {
    if (g_free.valid()) kay_sys.semaphore_close(g_free);
    if (g_decoded.valid()) kay_sys.semaphore_close(g_decoded);
    g_free = g_decoded = kay_semaphore{};
}

namespace kay_reader {

void setup(const unsigned char* input, std::size_t size) {
    teardown();
    g_windows = static_cast<unsigned char*>(std::malloc(SLOTS * KAY_WINDOW_SIZE));
    if (g_windows == nullptr) fatal_error(MSG_NO_MEMORY);
    g_context = ZSTD_createDCtx();
    if (g_context == nullptr) fatal_error(MSG_NO_MEMORY);
    g_input = {input, size, 0};
    g_released = 0;
    g_filled = false;
    g_out_of_memory = false;
    g_current = g_windows;
    g_current_size = g_current_pos = 0;
    g_holding = false;
    g_head = 0;
    g_stop = false;
    // Without a second thread the reader decodes as it reads.
    g_free = kay_sys.semaphore_create(SLOTS);
    g_decoded = kay_sys.semaphore_create(0);
    if (g_free.valid() && g_decoded.valid()) g_decoder = kay_sys.start_thread(decode_ahead, nullptr);
    g_threaded = g_decoder.valid();
    if (!g_threaded) close_semaphores();
}

std::size_t read_some(const unsigned char** data, std::size_t most) {
    if (g_current_pos == g_current_size) next_window();
    std::size_t available = g_current_size - g_current_pos;
    std::size_t take = available < most ? available : most;
    *data = g_current + g_current_pos;
    g_current_pos += take;
    return take;
}

void read_exact(void* destination, std::size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (count > 0) {
        const unsigned char* data;
        std::size_t n = read_some(&data, count);
        std::memcpy(out, data, n);
        out += n;
        count -= n;
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
    if (g_threaded) {
        // The decoder waits for a free slot, or ends by itself.
        g_stop = true;
        kay_sys.semaphore_post(g_free);
        kay_sys.join_thread(g_decoder);
        g_decoder = kay_thread{};
        close_semaphores();
        g_threaded = false;
    }
    if (g_context != nullptr) ZSTD_freeDCtx(g_context);
    g_context = nullptr;
    std::free(g_windows);
    g_windows = nullptr;
}

}  // namespace kay_reader
