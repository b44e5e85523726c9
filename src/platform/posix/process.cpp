// Child processes and console events (signals) on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/paths.h"
#include "platform/posix/posix_internal.h"

extern char** environ;

namespace kay_posix {

int g_argc;
char** g_argv;
int g_child_signal;
bool g_xfsz_inherited_ignored;

static kay_console_handler g_handler;

// The signals that stand for console events, and the event each means.
static const int EVENT_SIGNALS[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

static std::uint32_t event_of(int sig) {
    switch (sig) {
    case SIGINT: return KAY_CTRL_C;
    case SIGQUIT: return KAY_CTRL_BREAK;
    case SIGHUP: return KAY_CTRL_CLOSE;
    default: return KAY_CTRL_SHUTDOWN;
    }
}

static int signal_of(std::uint32_t event) {
    switch (event) {
    case KAY_CTRL_C: return SIGINT;
    case KAY_CTRL_BREAK: return SIGQUIT;
    case KAY_CTRL_CLOSE: return SIGHUP;
    default: return SIGTERM;
    }
}

// The event signals the launcher handles: those it did not inherit as
// ignored (an ignored one stays ignored, for the launcher and its child).
static sigset_t g_handled;
// The event being handled was sent by a process (kill, timeout), not by the
// terminal, which signals the whole process group, the child included.
static std::atomic<bool> g_sent_by_process{false};

// Ends the process by `sig`'s default action.
[[noreturn]] static void die_by_signal(int sig) {
    fflush(stdout);
    fflush(stderr);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

static void* handler_thread(void*) {
    for (;;) {
        siginfo_t info;
        int sig = sigwaitinfo(&g_handled, &info);
        if (sig < 0) continue;
        g_sent_by_process = (info.si_code == SI_USER || info.si_code == SI_QUEUE) && info.si_pid != 0;
        // Passed on to a child: the launcher ends as the child ends. Without
        // a child (still unpacking) the default action follows.
        if (g_handler(event_of(sig)) == 0) die_by_signal(sig);
    }
}

bool register_console_handler(kay_console_handler handler) {
    g_handler = handler;
    sigemptyset(&g_handled);
    for (int sig : EVENT_SIGNALS) {
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaddset(&g_handled, sig);
    }
    if (pthread_sigmask(SIG_BLOCK, &g_handled, nullptr) != 0) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, handler_thread, nullptr) != 0) return false;
    pthread_detach(thread);
    return true;
}

char** command_line_args(int* count) {
    char** args = static_cast<char**>(malloc(sizeof(char*) * (static_cast<size_t>(g_argc) + 1)));
    if (args == nullptr) return nullptr;
    for (int i = 0; i < g_argc; i++) args[i] = g_argv[i];
    args[g_argc] = nullptr;
    *count = g_argc;
    return args;
}

const char* own_command_line() { return nullptr; }

bool start_process(const char* program, char* const* argv, char* command_line, kay_process* process) {
    (void)command_line;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t empty, events = g_handled;
    sigemptyset(&empty);
    if (!g_xfsz_inherited_ignored) sigaddset(&events, SIGXFSZ);
    // The child gets the handled event signals and SIGXFSZ (ignored by the
    // launcher, see main) unblocked and at their defaults; those the
    // launcher inherited as ignored stay ignored.
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setsigdefault(&attr, &events);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program, nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    *process = kay_process{pid};
    return true;
}

static bool has_ended(pid_t pid) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == pid;
}

// Waits without reaping, so the handle stays valid until close_process.
kay_wait_result wait_process(kay_process process, std::uint32_t timeout_ms) {
    pid_t pid = static_cast<pid_t>(process.value);
    if (timeout_ms == KAY_WAIT_INFINITE) {
        siginfo_t info;
        while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
            if (errno != EINTR) return KAY_WAIT_FAILED;
        }
        return KAY_WAIT_DONE;
    }
#ifdef SYS_pidfd_open
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        struct pollfd p = {fd, POLLIN, 0};
        int rc;
        do rc = poll(&p, 1, static_cast<int>(timeout_ms));
        while (rc < 0 && errno == EINTR);
        close(fd);
        if (rc > 0) return KAY_WAIT_DONE;
        return rc == 0 ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
    }
#endif
    // Kernels without process descriptors: look every 10 ms.
    for (std::uint32_t waited = 0;; waited += 10) {
        if (has_ended(pid)) return KAY_WAIT_DONE;
        if (waited >= timeout_ms) return KAY_WAIT_TIMEOUT;
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

bool exit_code(kay_process process, std::uint32_t* code) {
    pid_t pid = static_cast<pid_t>(process.value);
    siginfo_t info;
    memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != pid)
        return false;
    if (info.si_code == CLD_EXITED) {
        *code = static_cast<std::uint32_t>(info.si_status);
    } else {
        g_child_signal = info.si_status;
        *code = 128u + static_cast<std::uint32_t>(info.si_status);
    }
    return true;
}

// Kills the child and returns once it has ended (it is reaped at close), so
// a launcher that ends right after never leaves its child running.
void terminate_process(kay_process process, std::uint32_t code) {
    (void)code;
    pid_t pid = static_cast<pid_t>(process.value);
    if (kill(pid, SIGKILL) != 0) return;
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
}

void close_process(kay_process process) {
    int status;
    while (waitpid(static_cast<pid_t>(process.value), &status, 0) < 0 && errno == EINTR) {
    }
}

bool forward_event(kay_process process, std::uint32_t event) {
    // A signal sent to the launcher alone is passed on (SIGTERM always: no
    // terminal sends it); one from the terminal reached the child already.
    if (event == KAY_CTRL_SHUTDOWN || g_sent_by_process) kill(static_cast<pid_t>(process.value), signal_of(event));
    return true;
}

void sleep_ms(std::uint32_t ms) {
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000 * 1000};
    nanosleep(&ts, nullptr);
}

std::uint32_t fold_case(const char* in, char* out, std::uint32_t capacity) {
    size_t n = strlen(in);
    if (n == 0 || n >= capacity) return 0;
    memcpy(out, in, n + 1);
    return static_cast<std::uint32_t>(n);
}

std::uint32_t lock_folder(char* out, std::uint32_t capacity) {
    const char* folder = getenv("XDG_RUNTIME_DIR");
    size_t n = folder != nullptr && folder[0] == '/' ? strlen(folder) : 0;
    if (n == 0 || n >= capacity) return 0;
    memcpy(out, folder, n);
    return static_cast<std::uint32_t>(n);
}

static int fd_of(kay_lock lock) { return static_cast<int>(lock.value - 1); }

kay_lock open_lock(const char* name) {
    int at;
    const char* in;
    if (!at_below(name, &at, &in)) return kay_lock{};
    int fd = openat(at, in, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    return fd < 0 ? kay_lock{} : kay_lock{fd + 1};
}

bool stat_lock(kay_lock lock, kay_file_status* status) { return stat_file(kay_file{lock.value}, status); }

kay_wait_result wait_lock(kay_lock lock, bool wait) {
    int rc;
    do rc = flock(fd_of(lock), LOCK_EX | (wait ? 0 : LOCK_NB));
    while (rc != 0 && errno == EINTR);
    if (rc == 0) return KAY_WAIT_DONE;
    return errno == EWOULDBLOCK ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
}

void close_lock(kay_lock lock) {
    flock(fd_of(lock), LOCK_UN);
    close(fd_of(lock));
}

std::uint32_t cpu_count() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<std::uint32_t>(CPU_COUNT(&set));
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::uint32_t>(n) : 1;
}

// A started thread: the handle points at this record.
struct thread_record {
    pthread_t thread;
    kay_thread_main main;
    void* arg;
};

static void* thread_entry(void* record) {
    thread_record* r = static_cast<thread_record*>(record);
    r->main(r->arg);
    return nullptr;
}

kay_thread start_thread(kay_thread_main main, void* arg) {
    thread_record* r = static_cast<thread_record*>(malloc(sizeof(thread_record)));
    if (r == nullptr) return kay_thread{};
    r->main = main;
    r->arg = arg;
    int rc = pthread_create(&r->thread, nullptr, thread_entry, r);
    if (rc != 0) {
        free(r);
        errno = rc;
        return kay_thread{};
    }
    return kay_thread{reinterpret_cast<std::intptr_t>(r)};
}

void join_thread(kay_thread thread) {
    thread_record* r = reinterpret_cast<thread_record*>(thread.value);
    pthread_join(r->thread, nullptr);
    free(r);
}

kay_semaphore semaphore_create(std::uint32_t initial) {
    sem_t* s = static_cast<sem_t*>(malloc(sizeof(sem_t)));
    if (s == nullptr) return kay_semaphore{};
    if (sem_init(s, 0, initial) != 0) {
        int saved = errno;
        free(s);
        errno = saved;
        return kay_semaphore{};
    }
    return kay_semaphore{reinterpret_cast<std::intptr_t>(s)};
}

void semaphore_wait(kay_semaphore semaphore) {
    while (sem_wait(reinterpret_cast<sem_t*>(semaphore.value)) != 0 && errno == EINTR) {
    }
}

void semaphore_post(kay_semaphore semaphore) { sem_post(reinterpret_cast<sem_t*>(semaphore.value)); }

void semaphore_close(kay_semaphore semaphore) {
    sem_destroy(reinterpret_cast<sem_t*>(semaphore.value));
    free(reinterpret_cast<sem_t*>(semaphore.value));
}

}  // namespace kay_posix

void kay_exit_with_child_code(std::uint32_t code) {
    if (kay_posix::g_child_signal != 0) kay_posix::die_by_signal(kay_posix::g_child_signal);
    exit(static_cast<int>(code & 0xFF));
}

namespace kay_posix {

bool error_is_terminal() { return isatty(2) == 1; }

// No window on POSIX: a launcher there is a console program.
void progress_window(const char* title, std::uint32_t permille) {
    (void)title;
    (void)permille;
}

void progress_window_close() {}

}  // namespace kay_posix
