#include "bootstrap/bootstrap.h"

#include <cstdio>
#include <cstring>

#include "child/handover.h"
#include "child/run_child.h"
#include "common/bounded.h"
#include "common/report.h"
#include "format/data_block.h"
#include "format/format.h"
#include "format/launch_data.h"
#include "format/launcher_file.h"
#include "pathspec/expand.h"
#include "payload/progress.h"
#include "payload/unpack.h"
#include "payload/versions.h"
#include "payload/warm.h"
#include "platform/safe_files.h"

// Which kay made this program (kay-pack list and verify read it).
[[gnu::used]] static const char PROGRAM_MARK[] = KAY_PROGRAM_MARK KAY_PROJECT_VERSION;

static kay_launch_context g_run;
static kchar g_target_dir[KAY_PATH_CAPACITY];
static kchar g_home_folder[KAY_PATH_CAPACITY];
static kchar g_first_entry_path[KAY_PATH_CAPACITY];
static kchar g_unsafe_path[KAY_PATH_CAPACITY];

// A launcher waits this long for another one before it says so.
constexpr std::uint32_t LOCK_NOTICE_MS = 2000;

static const char* unsafe_reason(kay_target_verdict verdict) {
    switch (verdict) {
    case KAY_TARGET_FOREIGN: return "owned by another user";
    case KAY_TARGET_NOT_STICKY: return "writable by every user and not sticky";
    case KAY_TARGET_NOT_ROOTS: return "writable by every user and not owned by root";
    default: return "writable by every user";
    }
}

// A folder of the user's own that every user may write to (one made under
// umask 000 by an older launcher, say) is the user's to mend: a second line
// says how, the first keeps its form. Empty for any other refusal.
static const char* how_to_mend(kay_target_verdict verdict) {
    static char line[KAY_PATH_CAPACITY * 4 + 80];
    kay_file_status st;
    if (verdict == KAY_TARGET_FOREIGN || !kay_sys.stat_path(g_unsafe_path, &st) || st.owner != kay_sys.user_id())
        return "";
    std::uint32_t n = 0;
    auto put = [&](const char* text) {
        while (*text != 0) line[n++] = *text++;
    };
    put("To use it, take away the others' write permission: chmod o-w '");
    // Only POSIX paths are walked: their units are bytes.
    for (const kchar* c = g_unsafe_path; *c != 0; c++) {
        if (*c == '\'') put("'\\''");
        else line[n++] = static_cast<char>(*c);
    }
    put("'\n");
    line[n] = 0;
    return line;
}

// Whether the target folder went while this launcher waited for its lock,
// or was about to take it: a launcher of another version removed it, lock
// file and all, finding it unused (payload/versions.h).
static bool target_removed(kay_wait_result rc, kay_lock lock) {
    kay_file_status st;
    if (rc == KAY_WAIT_DONE) return kay_sys.stat_lock(lock, &st) && st.links == 0;
    return rc == KAY_WAIT_FAILED && !kay_sys.stat_path(g_target_dir, &st);
}

// Refuses a target path that another user could change (before anything
// below it is opened), then takes the lock, saying so once when it has to
// wait for it; a target removed meanwhile is made again. Nothing below the
// target is reached through a link from here on. An invalid lock when it
// cannot be had, said on stderr before a file is written without it.
static kay_lock refuse_unsafe_target_then_lock() {
    kay_lock lock{};
    kay_wait_result rc = KAY_WAIT_FAILED;
    bool told = false;
    for (int attempt = 0; attempt < 3; attempt++) {
        kay_target_verdict verdict = kay_check_target(g_target_dir, g_unsafe_path, KAY_PATH_CAPACITY);
        if (verdict != KAY_TARGET_SAFE) {
            report_line(KAY_TO_STDERR, true, MSG_UNSAFE_TARGET KAY_PRI_S "' (%s).\n%s", g_unsafe_path,
                        unsafe_reason(verdict), how_to_mend(verdict));
            kay_exit(2);
        }
        kay_sys.confine_below(g_target_dir);
        rc = kay_lock_target(g_target_dir, LOCK_NOTICE_MS, &lock);
        if (rc == KAY_WAIT_TIMEOUT) {
            if (!told) report_line(KAY_TO_STDERR, false, MSG_WAITING KAY_PRI_S "'.\n", g_target_dir);
            told = true;
            // What a long unpacking shows, shown while waiting for another one.
            kay_progress::show_now();
            rc = kay_lock_target(g_target_dir, KAY_WAIT_INFINITE, &lock);
        }
        if (!target_removed(rc, lock)) break;
        if (rc == KAY_WAIT_DONE) kay_sys.close_lock(lock);
        lock = kay_lock{};
    }
    // No lock: none could be had, or the target went every time it was.
    if (!lock.valid()) kay_unpack::warn_before_writing(g_target_dir);
    return lock;
}

// Launchers started at once on one target directory unpack one after the
// other, so none rewrites a file under another one's running child. The
// target is checked and the lock taken at the first entry (an empty stream
// touches nothing) and held until the last entry is complete; without it,
// go on unlocked.
static kay_lock g_lock;
static bool g_lock_tried;

static void lock_before_first_entry() {
    if (g_lock_tried) return;
    g_lock = refuse_unsafe_target_then_lock();
    g_lock_tried = true;
}

void fetch_own_path(kay_own_path* out) {
    out->length = kay_sys.module_path(out->text, KAY_OWN_PATH_CAPACITY);
    // The system may leave a path cut short unterminated.
    out->text[out->length < KAY_OWN_PATH_CAPACITY ? out->length : KAY_OWN_PATH_CAPACITY - 1] = 0;
}

// The content bytes the index names, 0 without one.
static std::uint64_t indexed_bytes(const kay_launch_data& data) {
    if (data.index_count == KAY_NO_INDEX) return 0;
    kay_block index{};
    index.index_end = data.index_end;
    std::uint64_t total = 0;
    kay_index_entry entry;
    for (const unsigned char* at = data.index; next_index_entry(index, &at, &entry);) total += entry.size;
    return total;
}

std::uint32_t kay_main(int argc, kchar** argv, kay_ui ui) {
    (void)argc;
    kay_sys.set_dll_directory_empty();
    kay_handover::reset_handover_variables();
    load_launch_data(&g_run.data);
    fetch_own_path(&g_run.own_path);
    const kay_launch_data& data = g_run.data;

    // A failed expansion is reported before the path is canonicalised, so
    // the message is written even when nothing was expanded.
    if (!expand_path_spec(g_run, g_target_dir, data.target_spec, static_cast<std::int32_t>(KAY_PATH_CAPACITY)))
        fail_spec_expansion(data.target_spec);
    canonicalise_target_dir(g_target_dir);

    if (!kay_sys.register_console_handler(console_control_handler)) fatal_error(MSG_REGISTER_HANDLER);

    if (data.payload_size < sizeof KAY_MAGIC || std::memcmp(data.payload, KAY_MAGIC, sizeof KAY_MAGIC) != 0)
        fatal_error(MSG_NO_HEADER);

    // A GUI launcher shows a long unpacking in a window; a console one on a
    // line, when it was built to.
    kay_progress::style progress = ui == KAY_UI_WINDOWS ? kay_progress::WINDOW
                                   : data.progress_line ? kay_progress::LINE
                                                        : kay_progress::NONE;
    kay_progress::begin(progress, data.product, indexed_bytes(data));
    // A warm start: when the index says every file is there, nothing is
    // decoded; otherwise the full pass decides file by file.
    if (data.index_count != KAY_NO_INDEX && data.index_count > 0) lock_before_first_entry();
    if (!all_entries_current(g_target_dir, data, g_first_entry_path)) {
        // The directory walk of the unpacking stops at the user's home folder.
        if (!expand_path_spec(g_run, g_home_folder, KT("{HOME}"), KAY_PATH_CAPACITY)) fail_spec_expansion(KT("{HOME}"));
        kay_unpack::unpack_all(data.payload + sizeof KAY_MAGIC, data.payload_size - sizeof KAY_MAGIC, g_target_dir,
                               g_home_folder, lock_before_first_entry, g_first_entry_path);
        record_entries(g_target_dir, data);
    }
    kay_progress::end();
    // The version is held as used before its lock is released, so that no
    // launcher of another one removes it while the child starts; a target
    // never looked at (an empty payload) is not.
    kay_file in_use = g_lock_tried ? kay_versions::hold(g_target_dir) : kay_file{};
    if (g_lock.valid()) kay_sys.close_lock(g_lock);

    kay_process child{};
    if (!start_child(g_run.own_path, g_first_entry_path, argv[0], &child)) {
        if (in_use.valid()) kay_sys.close_file(in_use);
        kay_exit(2);
    }
    // Old versions go while the child runs, never before it starts.
    kay_versions::remove_old(g_target_dir, data, in_use);
    std::uint32_t code = wait_child(child);
    if (in_use.valid()) kay_sys.close_file(in_use);
    return code;
}
