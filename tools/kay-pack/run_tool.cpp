#include "run_tool.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fail.h"

static volatile sig_atomic_t g_signal = 0;
static volatile pid_t g_child = 0;

// Notes the signal and passes it on to the running tool, which may not have
// had it (a kill aimed at kay-pack alone rather than the terminal's group).
static void note_signal(int sig) {
    g_signal = sig;
    if (g_child > 0) kill(g_child, sig);
}

int interrupted_by() { return g_signal; }

std::string find_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

int run_logged(const std::vector<std::string>& argv, const std::string& log_path) {
    int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (log_fd < 0) fail_errno("cannot create " + quoted(log_path));
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    struct sigaction old_int, old_term, old_hup;
    sigaction(SIGINT, &action, &old_int);
    sigaction(SIGTERM, &action, &old_term);
    sigaction(SIGHUP, &action, &old_hup);

    pid_t pid = fork();
    if (pid < 0) fail_errno("cannot start " + quoted(argv[0]));
    if (pid == 0) {
        // Caught signals return to their defaults across exec.
        int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd >= 0) dup2(null_fd, 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    g_child = pid;
    close(log_fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) fail_errno("cannot wait for " + quoted(argv[0]));
    }
    g_child = 0;
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    sigaction(SIGHUP, &old_hup, nullptr);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
