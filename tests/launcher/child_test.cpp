// Starting the unpacked program: exit codes, arguments, standard handles,
// a failed start, and console events (real signals natively, the handler
// against a real child on Windows).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <dirent.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace kay_test;
using Clock = std::chrono::steady_clock;

namespace {

// Arguments the child must get back exactly, through the real quoting
// and splitting (the quoting's texts are unit-tested in command_line_test).
const std::vector<std::string> HARD_ARGS = {
    "plain", R"(C:\dir\file)", R"(C:\My Dir\)", R"(a"b)", R"(a\"b)", R"(C:\a b\c)", "", "two  blanks", "\t",
    "tab\there", "line\nfeed", "vertical\vtab", R"(\\server\share dir\\)", R"("quoted")", "\xc3\xa9t\xc3\xa9", "",
};

class Child : public ::testing::TestWithParam<Platform> {};

TEST_P(Child, ExitCodesPassThrough) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    for (int code : {0, 3, 255}) {
        Result r = run(p, exe, {.env = {{"PROBE_OUT", p.path(dir / "report.txt")},
                                        {"PROBE_EXIT", std::to_string(code)}}});
        EXPECT_EQ(r.code, code);
        EXPECT_EQ(r.out + r.err, "");
    }
    if (p.windows) {
        // Wine's own exit status keeps 8 bits: a Windows program reads all 32.
        for (const char* code : {"2147483651", "4294967295", "3221225477"}) {
            Result r = run(p, p.launcher("kay-run-exit"),
                           {.args = {p.path(exe)},
                            .env = {{"PROBE_OUT", p.path(dir / "report.txt")}, {"PROBE_EXIT", code}}});
            EXPECT_EQ(r.out, std::string("exit=") + code + "\r\n") << r.err;
        }
    }
}

TEST_P(Child, ArgumentsReachTheChildExactly) {
    const Platform& p = GetParam();
    Scratch dir;
    make_dirs(dir / "with blank");
    std::string exe = stage(p, "t_basic", dir / "with blank");
    std::string report = dir / "report.txt";
    RunOptions options{.env = {{"PROBE_OUT", p.path(report)}}};
    options.args = HARD_ARGS;
    Result r = run(p, exe, options);
    ASSERT_EQ(r.code, 0) << r.err;
    ProbeReport probe = parse_probe(read_file(report));

    // Windows too passes on empty ones: the rest of its own line as it is.
    std::vector<std::string> expected{p.path(exe)};
    expected.insert(expected.end(), HARD_ARGS.begin(), HARD_ARGS.end());
    EXPECT_EQ(probe.args, expected);
    EXPECT_EQ(probe.fields["argc"], std::to_string(expected.size()));
    // Lines C runtimes split their own ways: the child sees the rest of the launcher's line as if started directly.
    if (!p.windows) return;
    for (const std::string rest : {R"("""" x)", R"(a "" b)"}) {
        for (const std::string& program : {exe, dir / "with blank/unpacked/probe.exe"}) {
            Result started = run(p, p.launcher("kay-run-exit"), {.args = {p.path(program), rest}, .env = options.env});
            EXPECT_EQ(started.out, "exit=0\r\n") << started.err;
            EXPECT_EQ(parse_probe(read_file(report)).fields["cmdline"], "\"" + p.path(program) + "\" " + rest);
        }
    }
}

TEST_P(Child, ChildWritesToTheLaunchersFileAndPipes) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    RunOptions options{.env = {{"PROBE_OUT", p.path(dir / "report.txt")}, {"PROBE_SAY", "said by the child"}}};
    Result piped = run(p, exe, options);
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.out, "said by the child" + p.eol());
    EXPECT_EQ(piped.err, "said by the child" + p.eol());

    options.stdout_file = dir / "out.txt";
    Result to_file = run(p, exe, options);
    EXPECT_EQ(to_file.code, 0);
    EXPECT_EQ(to_file.out, "");
    EXPECT_EQ(read_file(dir / "out.txt"), "said by the child" + p.eol());
    EXPECT_EQ(to_file.err, "said by the child" + p.eol());
}

TEST_P(Child, EmptyEntryStreamIsAFailedStart) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_empty_stream", dir.path());
    Result r = run(p, exe, {.args = {"a"}});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    if (p.windows) {
        EXPECT_TRUE(std::regex_match(r.err, std::regex(R"(Error, couldn't launch child \(\[Error -?[0-9]+\] [^\r\n]*\)\r\n)")))
            << r.err;
    } else {
        EXPECT_EQ(r.err, "Error, couldn't launch child ([Error 2] No such file or directory)\n");
    }
    EXPECT_FALSE(exists(dir / "unpacked"));
}

// The console event handler against a real child, by a Windows program
// linked with the launcher's core.
TEST_P(Child, HandlerTerminatesAChildThatOutlivesTheGrace) {
    const Platform& p = GetParam();
    if (!p.windows) GTEST_SKIP() << "natively covered by real signals below";
    Scratch dir;
    Result r = run(p, p.launcher("kay-handler-check"),
                   {.args = {p.path(p.launcher("kay-probe"))}, .env = {{"PROBE_OUT", p.path(dir / "report.txt")}}});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::smatch m;
    std::string out = r.out;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(running: handler=0 waited=(\d+) code=0\r\n)"))) << out;
    long waited = std::stol(m[1]);
    EXPECT_GE(waited, 4500);
    EXPECT_LE(waited, 8000);
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(ending: handler=0 waited=(\d+) code=7\r\n)"))) << out;
    EXPECT_LT(std::stol(m[1]), 4500);
    EXPECT_NE(out.find("other events: handler=0 waited_long=0 code=9\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("no child: handler=0\r\n"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Launchers, Child, ::testing::ValuesIn(platforms()), platform_name);

// ---- Console events natively, with real signals ----

bool wait_for(const std::string& path, int timeout_ms) {
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The children of `parent`, from /proc.
std::vector<pid_t> children_of(pid_t parent) {
    std::vector<pid_t> out;
    DIR* d = opendir("/proc");
    if (d == nullptr) return out;
    while (dirent* e = readdir(d)) {
        pid_t pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream in("/proc/" + std::string(e->d_name) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t ppid;
        if (rest >> state >> ppid && ppid == parent) out.push_back(pid);
    }
    closedir(d);
    return out;
}

// Alive and not a zombie.
bool alive(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    auto close = stat.rfind(')');
    return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] != 'Z';
}

// The process has `sig` set to be ignored.
bool ignores_interrupt(pid_t pid, int sig = SIGINT) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("SigIgn:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    }
    return false;
}

struct Started {
    Running running;
    pid_t child = 0;
};

// Starts the staged launcher with a probe that sleeps `sleep_ms` and then
// exits 7, and waits until the probe has written its report, so it has set
// its signals up. `nohup`: started with the hang-up and SIGXFSZ ignored.
Started start_sleeping(const Platform& p, const std::string& exe, const std::string& report, bool ignore,
                       bool nohup = false, const char* sleep_ms = "60000") {
    RunOptions options{.env = {{"PROBE_OUT", report}, {"PROBE_SLEEP_MS", sleep_ms}, {"PROBE_EXIT", "7"}},
                       .timeout_ms = 30000};
    if (ignore) options.env["PROBE_IGNORE_INT"] = "1";
    if (nohup) options.args = {"-c", "trap '' HUP XFSZ; exec \"$0\"", exe};
    Started s{start(p, nohup ? "sh" : exe, options)};
    EXPECT_TRUE(wait_for(report, 20000)) << "the child never started";
    auto kids = children_of(s.running.pid);
    EXPECT_EQ(kids.size(), 1u);
    if (!kids.empty()) s.child = kids[0];
    // The report is written before the interrupt is ignored: wait for that.
    auto end = Clock::now() + std::chrono::seconds(10);
    while (ignore && s.child > 0 && !ignores_interrupt(s.child) && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return s;
}

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

class ChildEvents : public ::testing::Test {
protected:
    Platform native = platforms()[0];
    Scratch dir;
    std::string exe = stage(native, "t_basic", dir.path());
    std::string report = dir / "report.txt";
    pid_t child = 0;
    void TearDown() override {
        if (child > 0 && alive(child)) kill(child, SIGKILL);
    }
};

// A child that takes the event its own way, Ctrl+C to the group or SIGTERM
// to the launcher alone, ends the launcher as it ends: exit code 7 after
// 6.5 s, never killed after a grace.
TEST_F(ChildEvents, ChildOutlivingTheEventEndsTheLauncherWithItsOwnCode) {
    for (int sig : {SIGINT, SIGTERM}) {
        Started s = start_sleeping(native, exe, report, true, false, "6500");
        child = s.child;
        ASSERT_TRUE(child > 0 && ignores_interrupt(child));
        auto sent = Clock::now();
        kill(sig == SIGINT ? -s.running.pid : s.running.pid, sig);
        Result r = finish(s.running);
        EXPECT_EQ(r.code, 7) << strsignal(sig) << " " << r.signal;
        EXPECT_GE(seconds_since(sent), 5.5) << strsignal(sig);
        std::filesystem::remove(report);
    }
}

TEST_F(ChildEvents, ChildEndingOnTheInterruptIsNotKilled) {
    Started s = start_sleeping(native, exe, report, false);
    child = s.child;
    auto sent = Clock::now();
    kill(-s.running.pid, SIGINT);
    Result r = finish(s.running);
    EXPECT_EQ(r.signal, SIGINT);
    EXPECT_LT(seconds_since(sent), 3.0) << "the launcher waited out the grace";
    EXPECT_FALSE(alive(child));
}

TEST_F(ChildEvents, SignalSentToTheLauncherAloneReachesTheChild) {
    for (int sig : {SIGTERM, SIGINT, SIGQUIT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        Started s = start_sleeping(native, exe, report, false);
        child = s.child;
        auto sent = Clock::now();
        kill(s.running.pid, sig);
        Result r = finish(s.running);
        EXPECT_EQ(r.signal, sig);
        // Without the hand-on the child would be killed only after the grace.
        EXPECT_LT(seconds_since(sent), 3.0);
        EXPECT_FALSE(alive(child));
        std::filesystem::remove(report);
    }
}

// Started with the hang-up and SIGXFSZ ignored: both stay ignored by the
// launcher and its child.
TEST_F(ChildEvents, InheritedIgnoreIsKept) {
    Started s = start_sleeping(native, exe, report, false, true);
    child = s.child;
    ASSERT_GT(child, 0);
    EXPECT_TRUE(ignores_interrupt(child, SIGHUP));
    EXPECT_TRUE(ignores_interrupt(child, SIGXFSZ));
    kill(s.running.pid, SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(alive(s.running.pid) && alive(child)) << "ended by an ignored hang-up";
    kill(s.running.pid, SIGTERM);
    Result r = finish(s.running);
    EXPECT_EQ(r.signal, SIGTERM);
}

// SIGXFSZ, which the launcher ignores, is the child's default again.
TEST_F(ChildEvents, ChildEndedBySignalEndsTheLauncherBySameSignal) {
    Started s = start_sleeping(native, exe, report, false);
    child = s.child;
    ASSERT_GT(child, 0);
    EXPECT_FALSE(ignores_interrupt(child, SIGXFSZ));
    kill(child, SIGUSR1);
    Result r = finish(s.running);
    EXPECT_EQ(r.signal, SIGUSR1);
    EXPECT_EQ(r.out + r.err, "");
}

TEST_F(ChildEvents, InterruptDuringUnpackingEndsTheLauncherWithoutChild) {
    std::string slow = stage(native, "t_slow_unpack", dir.path());
    Running running = start(native, slow, {.env = {{"PROBE_OUT", report}}, .timeout_ms = 60000});
    // The program is unpacked first; the fill files follow it.
    bool unpacking = wait_for(dir / "unpacked/fill/00.bin", 30000);
    kill(-running.pid, SIGINT);
    Result r = finish(running);
    ASSERT_TRUE(unpacking);
    EXPECT_EQ(r.signal, SIGINT);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_FALSE(exists(dir / "unpacked/fill/15.bin")) << "unpacking went on to the end";
    EXPECT_FALSE(exists(report)) << "the child was started";
}

}  // namespace
