// Fault injection for test launchers only (built with KAY_FAULT_INJECTION;
// never part of a production launcher).
//
// KAY_FAULT=<call>:<n> makes the n-th call of one kind fail, the kinds being
// open_read, file_size, map_file, map_view, open_write, write_file,
// create_directory, start_process and wait_process. KAY_FAULT_REPORT=<file>
// receives, when the process exits through the runtime, one line:
//   injected=<0|1> open=<handles still open> reported=<0|1>
// where `reported` says the exit came from a reported failure (kay_exit).
// KAY_NO_LOCK=1 makes every lock on the target directory fail, so that
// launchers started at once unpack unlocked.
#ifndef KAY_FAULT_INJECTION
#error "fault_inject.cpp belongs to test launchers only"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "common/report.h"
#include "platform/platform.h"

namespace {

enum kind {
    K_OPEN_READ, K_FILE_SIZE, K_MAP_FILE, K_MAP_VIEW, K_OPEN_WRITE, K_WRITE_FILE,
    K_CREATE_DIRECTORY, K_START_PROCESS, K_WAIT_PROCESS, K_COUNT
};

const char* const KIND_NAMES[K_COUNT] = {"open_read", "file_size", "map_file", "map_view", "open_write",
                                         "write_file", "create_directory", "start_process", "wait_process"};

int g_kind = -1;
long g_nth;
long g_calls[K_COUNT];
bool g_injected;
long g_open;  // files, mappings, views, processes and locks not yet released
bool g_reported;
bool g_no_lock;
const char* g_report;

// True when this call of `k` is the one to fail; sets the error code then.
bool fail_now(int k) {
    if (++g_calls[k] != g_nth || k != g_kind) return false;
    g_injected = true;
#if defined(_WIN32)
    SetLastError(k == K_WRITE_FILE ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED);
#else
    errno = k == K_WRITE_FILE ? ENOSPC : EACCES;
#endif
    return true;
}

kay_file f_open_read(const kchar* path) {
    if (fail_now(K_OPEN_READ)) return 0;
    kay_file f = kay_sys_default.open_read(path);
    if (f != 0) g_open++;
    return f;
}

std::uint32_t f_file_size(kay_file file) {
    if (fail_now(K_FILE_SIZE)) return 0xFFFFFFFFu;
    return kay_sys_default.file_size(file);
}

kay_mapping f_map_file(kay_file file, std::uint32_t size) {
    if (fail_now(K_MAP_FILE)) return 0;
    kay_mapping m = kay_sys_default.map_file(file, size);
    if (m != 0) g_open++;
    return m;
}

const void* f_map_view(kay_mapping mapping) {
    if (fail_now(K_MAP_VIEW)) return nullptr;
    const void* v = kay_sys_default.map_view(mapping);
    if (v != nullptr) g_open++;
    return v;
}

void f_unmap_view(const void* view, std::uint32_t size) {
    g_open--;
    kay_sys_default.unmap_view(view, size);
}

void f_close_mapping(kay_mapping mapping) {
    g_open--;
    kay_sys_default.close_mapping(mapping);
}

kay_file f_open_write(const kchar* path) {
    if (fail_now(K_OPEN_WRITE)) return 0;
    kay_file f = kay_sys_default.open_write(path);
    if (f != 0) g_open++;
    return f;
}

bool f_write_file(kay_file file, const void* data, std::uint32_t size) {
    if (fail_now(K_WRITE_FILE)) return false;
    return kay_sys_default.write_file(file, data, size);
}

void f_close_file(kay_file file) {
    g_open--;
    kay_sys_default.close_file(file);
}

kay_mkdir_result f_create_directory(const kchar* path) {
    if (fail_now(K_CREATE_DIRECTORY)) return KAY_MKDIR_FAILED;
    return kay_sys_default.create_directory(path);
}

bool f_start_process(const kchar* program, kchar* command_line, kchar* const* argv, kay_process* process) {
    if (fail_now(K_START_PROCESS)) return false;
    bool ok = kay_sys_default.start_process(program, command_line, argv, process);
    if (ok && *process != 0) g_open++;
    return ok;
}

kay_wait_result f_wait_process(kay_process process, std::uint32_t timeout_ms) {
    if (fail_now(K_WAIT_PROCESS)) return KAY_WAIT_FAILED;
    return kay_sys_default.wait_process(process, timeout_ms);
}

void f_close_process(kay_process process) {
    g_open--;
    kay_sys_default.close_process(process);
}

kay_lock f_lock_target(const kchar* dir) {
    if (g_no_lock) return 0;
    kay_lock l = kay_sys_default.lock_target(dir);
    if (l != 0) g_open++;
    return l;
}

void f_unlock_target(kay_lock lock) {
    g_open--;
    kay_sys_default.unlock_target(lock);
}

void on_reported_exit(int) { g_reported = true; }

void write_report() {
    if (g_report == nullptr) return;
    FILE* f = std::fopen(g_report, "wb");
    if (f == nullptr) return;
    std::fprintf(f, "injected=%d open=%ld reported=%d\n", g_injected ? 1 : 0, g_open, g_reported ? 1 : 0);
    std::fclose(f);
}

struct installer {
    installer() {
        g_report = std::getenv("KAY_FAULT_REPORT");
        if (g_report != nullptr) std::atexit(write_report);
        const char* spec = std::getenv("KAY_FAULT");
        if (spec != nullptr) {
            const char* colon = std::strchr(spec, ':');
            for (int k = 0; colon != nullptr && k < K_COUNT; k++) {
                std::size_t n = std::strlen(KIND_NAMES[k]);
                if (static_cast<std::size_t>(colon - spec) == n && std::strncmp(spec, KIND_NAMES[k], n) == 0) {
                    g_kind = k;
                    g_nth = std::atol(colon + 1);
                }
            }
        }
        const char* no_lock = std::getenv("KAY_NO_LOCK");
        g_no_lock = no_lock != nullptr && std::strcmp(no_lock, "1") == 0;
        kay_exit_hook = on_reported_exit;
        kay_sys.open_read = f_open_read;
        kay_sys.file_size = f_file_size;
        kay_sys.map_file = f_map_file;
        kay_sys.map_view = f_map_view;
        kay_sys.unmap_view = f_unmap_view;
        kay_sys.close_mapping = f_close_mapping;
        kay_sys.open_write = f_open_write;
        kay_sys.write_file = f_write_file;
        kay_sys.close_file = f_close_file;
        kay_sys.create_directory = f_create_directory;
        kay_sys.start_process = f_start_process;
        kay_sys.wait_process = f_wait_process;
        kay_sys.close_process = f_close_process;
        kay_sys.lock_target = f_lock_target;
        kay_sys.unlock_target = f_unlock_target;
    }
};

installer g_installer;

}  // namespace
