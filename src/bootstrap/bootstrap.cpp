#include "bootstrap/bootstrap.h"

#include <cstdio>
#include <cstring>

#include "child/handover.h"
#include "child/run_child.h"
#include "common/bounded.h"
#include "common/report.h"
#include "format/format.h"
#include "format/launch_data.h"
#include "pathspec/expand.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "payload/warm.h"
#include "platform/safe_files.h"

static kchar g_target_dir[KAY_PATH_CAPACITY];
static kchar g_unsafe_path[KAY_PATH_CAPACITY];

// A launcher waits this long for another one before it says so.
constexpr std::uint32_t LOCK_NOTICE_MS = 2000;
static char16_t g_entry_name[KAY_NAME_CAPACITY];

static const char* unsafe_reason(kay_target_verdict verdict) {
    switch (verdict) {
    case KAY_TARGET_FOREIGN: return "owned by another user";
    case KAY_TARGET_NOT_STICKY: return "writable by every user and not sticky";
    case KAY_TARGET_NOT_ROOTS: return "writable by every user and not owned by root";
    default: return "writable by every user";
    }
}

// Refuses a target path that another user could change (before anything
// below it is opened), then takes the lock, saying so once when it has to
// wait for it. An invalid lock when it cannot be had.
static kay_lock secure_target() {
    kay_target_verdict verdict = kay_check_target(g_target_dir, g_unsafe_path, KAY_PATH_CAPACITY);
    if (verdict != KAY_TARGET_SAFE) {
        std::fprintf(stderr, MSG_UNSAFE_TARGET KAY_PRI_S "' (%s).\n", g_unsafe_path, unsafe_reason(verdict));
        kay_exit(2);
    }
    kay_lock lock{};
    if (kay_lock_target(g_target_dir, LOCK_NOTICE_MS, &lock) == KAY_WAIT_TIMEOUT) {
        std::fprintf(stderr, MSG_WAITING KAY_PRI_S "'.\n", g_target_dir);
        std::fflush(stderr);
        kay_lock_target(g_target_dir, KAY_WAIT_INFINITE, &lock);
    }
    return lock;
}

// The directory walk of the unpacking stops at the user's home folder.
static void home_folder(kchar* out) {
    if (!expand_path_spec(out, KT("{HOME}"), KAY_PATH_CAPACITY)) fail_spec_expansion(KT("{HOME}"));
}

std::uint32_t kay_main(int argc, kchar** argv) {
    (void)argc;
    kay_sys.set_dll_directory_empty();
    reset_handover_variables();
    load_launch_data();

    // A failed expansion is reported before the path is canonicalised, so
    // the message is written even when nothing was expanded.
    if (!expand_path_spec(g_target_dir, g_launch.target_spec, static_cast<std::int32_t>(KAY_PATH_CAPACITY)))
        fail_spec_expansion(g_launch.target_spec);
    canonicalise_target_dir(g_target_dir);

    if (!kay_sys.register_console_handler(console_control_handler)) fatal_error(MSG_REGISTER_HANDLER);

    if (g_launch.payload_size < sizeof KAY_MAGIC ||
        std::memcmp(g_launch.payload, KAY_MAGIC, sizeof KAY_MAGIC) != 0)
        fatal_error(MSG_NO_HEADER);
    unpack_begin(home_folder);

    // Launchers started at once on one target directory unpack one after
    // the other, so none rewrites a file under another one's running child.
    // The target is checked and the lock taken at the first entry (an empty
    // stream touches nothing) and held until the last entry is complete;
    // without it, go on unlocked.
    kay_lock lock{};
    bool lock_tried = false;
    // A warm start: when the index says every file is there, nothing is
    // decoded; otherwise the full pass decides file by file.
    if (g_launch.index_count != 0xFFFFFFFFu && g_launch.index_count > 0) {
        lock = secure_target();
        lock_tried = true;
    }
    if (!all_entries_current(g_target_dir, g_launch)) {
        setup(g_launch.payload + sizeof KAY_MAGIC, g_launch.payload_size - sizeof KAY_MAGIC);
        for (;;) {
            read_name(g_entry_name);
            if (g_entry_name[0] == 0) break;
            if (!lock_tried) {
                lock = secure_target();
                lock_tried = true;
            }
            unpack_entry(g_target_dir, g_entry_name);
        }
        teardown();
    }
    if (lock.valid()) kay_sys.close_lock(lock);

    return run_child(g_first_entry_path, argv[0]);
}
