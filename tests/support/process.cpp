// The tests run on Linux; Windows programs are run from there under Wine.
#ifndef _WIN32
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kay_test {

std::string Platform::path(const std::string& host_path) const {
    if (!windows) return host_path;
    std::string out = "Z:" + host_path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

std::string Platform::target() const {
    if (!windows) return arm64 ? "linux-arm64" : "native";
    return std::filesystem::exists(build_dir + "/kay-launcher-win64.exe") ? "win64" : "win32";
}

std::vector<Platform> platforms() {
    std::vector<Platform> out{{false, KAY_NATIVE_BUILD_DIR}};
    const char* win = std::getenv("KAY_WIN32_BUILD");
    std::string dir = win != nullptr ? win : KAY_WIN32_BUILD_DIR;
    const char* require = std::getenv("KAY_REQUIRE_WIN32");
    if (std::filesystem::exists(dir + "/tests/t_basic.exe") || (require != nullptr && std::string(require) == "1")) {
        out.push_back({true, dir});
    }
    return out;
}

std::optional<Platform> arm64_platform() {
    const char* given = std::getenv("KAY_ARM64_BUILD");
    Platform arm64{false, given != nullptr ? given : std::string(KAY_NATIVE_BUILD_DIR) + "/../linux-arm64", true};
    const char* require = std::getenv("KAY_REQUIRE_ARM64");
    bool qemu = std::system("command -v qemu-aarch64 >/dev/null") == 0;
    if ((require != nullptr && std::string(require) == "1") || (qemu && std::filesystem::exists(arm64.launcher("kay-probe"))))
        return arm64;
    return std::nullopt;
}

std::string wine_prefix() {
    const char* p = std::getenv("KAY_WINEPREFIX");
    return p != nullptr ? p : std::string(KAY_NATIVE_BUILD_DIR) + "/wineprefix";
}

// One Xvfb for every Wine run on the prefix, started by the first test that
// needs it and left running with the prefix's Wine server (whose desktop
// process keeps its display): <prefix>/kay-display holds "<display> <pid>".
std::string wine_display() {
    static std::string display;
    const char* given = std::getenv("DISPLAY");
    if (display.empty() && given != nullptr && *given != 0) display = given;
    if (!display.empty()) return display;
    std::filesystem::create_directories(wine_prefix());
    // Under a lock: the recorded server while it runs, else a new one.
    std::string script = "{ R='" + wine_prefix() + "/kay-display'; exec 9>\"$R.lock\"; flock 9; read n pid <\"$R\"; "
        "if ! kill -0 \"$pid\"; then rm -f \"$R.n\"; setsid Xvfb -displayfd 3 -nolisten tcp 3>\"$R.n\" 9>&- "
        "</dev/null >/dev/null 2>&1 & pid=$!; while kill -0 $pid && [ ! -s \"$R.n\" ]; do sleep 0.05; done; "
        "n=$(cat \"$R.n\"); echo $n $pid >\"$R\"; fi; echo $n; } 2>/dev/null";
    char number[16] = {};
    FILE* shell = popen(script.c_str(), "r");
    if (shell != nullptr && std::fgets(number, sizeof number, shell) == nullptr) number[0] = 0;
    if (shell != nullptr) pclose(shell);
    if (number[0] < '0' || number[0] > '9') throw std::runtime_error("cannot start Xvfb (scripts/install-deps installs xvfb)");
    return display = ":" + std::to_string(std::atoi(number));
}

Running start(const Platform& p, const std::string& program, const RunOptions& options) {
    std::vector<std::string> argv;
    const char* wine = std::getenv("KAY_WINE");
    if (p.windows) argv.push_back(wine != nullptr && *wine != 0 ? wine : "wine");
    if (p.arm64) argv.push_back("qemu-aarch64");
    argv.push_back(program);
    argv.insert(argv.end(), options.args.begin(), options.args.end());

    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; e++) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    if (p.windows) {
        env["WINEPREFIX"] = wine_prefix();
        env["WINEDEBUG"] = "-all";
        // Wine turns the Unix command line into UTF-16 through the locale;
        // without a UTF-8 one, non-ASCII arguments arrive mangled.
        env["LC_ALL"] = "C.UTF-8";
        // The GUI launcher's windows need a display.
        env["DISPLAY"] = wine_display();
    }
    for (const auto& [k, v] : options.env) {
        if (v) env[k] = *v;
        else env.erase(k);
    }
    std::vector<std::string> env_strings;
    for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
    std::vector<char*> envp, args;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    for (auto& s : argv) args.push_back(s.data());
    args.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (!options.stdout_file.empty()) {
        posix_spawn_file_actions_addopen(&fa, 1, options.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else {
        posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    }
    posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, options.cwd.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Each run in its own process group, so signals reach only it.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &fa, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    return Running{pid, out_pipe[0], err_pipe[0], options.timeout_ms};
}

// Programs it left behind (Wine's server, a child still running) may hold
// the pipes open, so the end of the process, not the end of the streams,
// ends the reading.
Result finish(Running& r) {
    Result result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.timeout_ms);
    int fds[2] = {r.out_fd, r.err_fd};
    std::string* sinks[2] = {&result.out, &result.err};
    int status = 0;
    bool ended = false;
    auto ended_at = std::chrono::steady_clock::time_point{};
    for (;;) {
        struct pollfd pfd[2];
        int n = 0;
        int which[2];
        for (int i = 0; i < 2; i++) {
            if (fds[i] >= 0) {
                pfd[n] = {fds[i], POLLIN, 0};
                which[n++] = i;
            }
        }
        auto now = std::chrono::steady_clock::now();
        if (!ended && now >= deadline) {
            result.timed_out = true;
            kill(-r.pid, SIGKILL);
        }
        if (n == 0 && ended) break;
        // After the end, a short grace for output still in flight.
        if (ended && now - ended_at > std::chrono::milliseconds(300)) break;
        int rc = poll(pfd, n, 20);
        if (rc < 0 && errno != EINTR) break;
        bool got_any = false;
        for (int i = 0; i < n && rc > 0; i++) {
            if (pfd[i].revents == 0) continue;
            char buf[65536];
            ssize_t got = read(pfd[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[which[i]]->append(buf, static_cast<size_t>(got));
                got_any = true;
            } else {
                close(pfd[i].fd);
                fds[which[i]] = -1;
            }
        }
        if (!ended) {
            if (waitpid(r.pid, &status, WNOHANG) == r.pid) {
                ended = true;
                ended_at = std::chrono::steady_clock::now();
            }
        } else if (got_any) {
            ended_at = std::chrono::steady_clock::now();
        }
    }
    for (int fd : fds) {
        if (fd >= 0) close(fd);
    }
    if (!ended) {
        while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

Result run(const Platform& p, const std::string& program, const RunOptions& options) {
    Running r = start(p, program, options);
    return finish(r);
}

static std::string unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

ProbeReport parse_probe(const std::string& text) {
    ProbeReport r;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("env ", 0) == 0) {
            std::string rest = line.substr(4);
            auto eq = rest.find('=');
            if (eq != std::string::npos) r.env[rest.substr(0, eq)] = unhex(rest.substr(eq + 1));
            else r.env[rest.substr(0, rest.find(' '))] = std::nullopt;
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "arg") r.args.push_back(unhex(value));
        else if (key == "argc" || key == "ppid" || key == "console" || key == "after" || key == "count") r.fields[key] = value;
        else r.fields[key] = unhex(value);
    }
    return r;
}

}  // namespace kay_test
#endif
