// Bad input to kay-pack create: a clear message, a non-zero exit code, and
// nothing at (or beside) the output path.
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "harness.h"

class CreateErrors : public KayPackTest {
protected:
    void SetUp() override {
        KayPackTest::SetUp();
        write_file(path("app/main"), "main");
        write_file(path("app/sub/data"), "data");
        mkdir(path("out").c_str(), 0777);
    }
    // Runs create into out/p.kay and expects `message` and exit code 1.
    void expect_failure(const std::vector<std::string>& extra, const std::string& message,
                        const std::string& main = "main") {
        std::vector<std::string> args{"create", path("app"), "--main", main, "-o", path("out/p.kay")};
        args.insert(args.end(), extra.begin(), extra.end());
        Result r = kay_pack(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "kay-pack: " + message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(list_dir(path("out")), std::vector<std::string>{}) << "left in the output directory";
    }
};

TEST_F(CreateErrors, ApplicationDirectoryMustExistAndBeADirectory) {
    Result r = kay_pack({"create", path("nothing"), "--main", "main", "-o", path("out/p.kay")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kay-pack: application directory '" + path("nothing") + "': No such file or directory\n");
    r = kay_pack({"create", path("app/main"), "--main", "main", "-o", path("out/p.kay")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kay-pack: application directory '" + path("app/main") + "': not a directory\n");
    EXPECT_EQ(list_dir(path("out")), std::vector<std::string>{});
}

TEST_F(CreateErrors, MainMustBeARegularFileInsideTheDirectory) {
    expect_failure({}, "--main 'nope': no such file in '" + path("app") + "'", "nope");
    expect_failure({}, "--main 'main/x': no such file in '" + path("app") + "'", "main/x");
    expect_failure({}, "--main 'sub': not a regular file", "sub");
    expect_failure({}, "--main '../app/main': must not leave the application directory", "../app/main");
    expect_failure({}, "--main '" + path("app/main") + "': must be a path relative to the application directory",
                   path("app/main"));
    ASSERT_EQ(symlink("main", path("app/link").c_str()), 0);
    expect_failure({}, "--main 'link': not a regular file", "link");
}

TEST_F(CreateErrors, SymlinksAndSpecialFilesAreRefusedByName) {
    ASSERT_EQ(symlink("data", path("app/sub/link").c_str()), 0);
    expect_failure({}, "'" + path("app/sub/link") + "': symbolic link (pass --follow-symlinks to pack what it points to)");
    unlink(path("app/sub/link").c_str());

    ASSERT_EQ(symlink("missing", path("app/dangling").c_str()), 0);
    expect_failure({"--follow-symlinks"},
                   "cannot follow symbolic link '" + path("app/dangling") + "': No such file or directory");
    unlink(path("app/dangling").c_str());

    ASSERT_EQ(symlink("..", path("app/sub/up").c_str()), 0);
    expect_failure({"--follow-symlinks"}, "'" + path("app/sub/up") + "': symbolic link loop");
    unlink(path("app/sub/up").c_str());

    ASSERT_EQ(mkfifo(path("app/fifo").c_str(), 0644), 0);
    expect_failure({}, "'" + path("app/fifo") + "': named pipe (only regular files can be packed)");
    unlink(path("app/fifo").c_str());

    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = path("app/sock");
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    sock.copy(addr.sun_path, sock.size());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    expect_failure({}, "'" + sock + "': socket (only regular files can be packed)");
    close(s);
}

TEST_F(CreateErrors, NamesTheLauncherCannotTakeAreRefused) {
    write_file(path("app/a:b"), "x");
    expect_failure({}, "'" + path("app/a:b") + "': unusable entry name: contains ':' (drive letter or stream name)");
    unlink(path("app/a:b").c_str());

    write_file(path("app/back\\slash"), "x");
    expect_failure({}, "'" + path("app/back\\slash") + "': file name contains a backslash");
    unlink(path("app/back\\slash").c_str());

    write_file(path("app/bad\xff"), "x");
    expect_failure({}, "'" + path("app/bad\xff") + "': file name is not valid UTF-8");
    unlink(path("app/bad\xff").c_str());

    write_file(path("app/..."), "x");
    expect_failure({}, "'" + path("app/...") + "': unusable entry name: '.' or '..' component");
    unlink(path("app/...").c_str());
    write_file(path("app/Aux.tar.gz"), "x");
    expect_failure({},
                   "'" + path("app/Aux.tar.gz") + "': unusable entry name: Windows device name (CON, NUL, COM1...)");
    unlink(path("app/Aux.tar.gz").c_str());
    // A Windows program's files must stay apart on Windows.
    write_file(path("app/main.exe"), "m");
    for (std::string pair : {"Readme.txt readme.txt", "x x.", "y y "}) {
        std::string a = pair.substr(0, pair.find(' ')), b = pair.substr(a.size() + 1);
        for (const std::string& file : {a, b}) write_file(path("app/" + file), file);
        expect_failure({}, "'" + a + "' and '" + b + "' are the same file" + SAME_ON_WINDOWS, "main.exe");
        for (const std::string& file : {a, b}) unlink(path("app/" + file).c_str());
    }

    // 5 components of 200 characters: 1004 units; one more file name of 20
    // units crosses 1023.
    std::string deep;
    for (int i = 0; i < 5; i++) deep += std::string(200, static_cast<char>('a' + i)) + "/";
    write_file(path("app/" + deep + "ok"), "x");
    Result ok = kay_pack({"create", path("app"), "--main", "main", "-o", path("out/p.kay"), "-q"});
    EXPECT_EQ(ok.code, 0) << ok.err;
    unlink(path("out/p.kay").c_str());
    std::string long_name = deep + std::string(20, 'z');
    write_file(path("app/" + long_name), "x");
    expect_failure({}, "'" + path("app/" + long_name) + "': unusable entry name: longer than 1023 UTF-16 units");
}

TEST_F(CreateErrors, EmptyFoldersLeftOutAreNamedOnceUnlessQuiet) {
    for (const char* dir : {"app/e1", "app/e2", "app/e2/e3"}) mkdir(path(dir).c_str(), 0755);
    Result r = kay_pack({"create", path("app"), "--main", "main", "-o", path("out/p.kay")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "kay-pack: warning: left out 3 empty folders, the first 'e1' (a payload holds files only)\n");
    EXPECT_EQ(kay_pack({"create", path("app"), "--main", "main", "-o", path("out/p.kay"), "-q"}).err, "");
}

TEST_F(CreateErrors, UnreadableFileLeavesNoOutputAndKeepsAnOldOne) {
    write_file(path("out/p.kay"), "old payload");
    write_file(path("app/secret"), "s");
    chmod(path("app/secret").c_str(), 0);
    std::string program = KAY_PACK_PATH;
    std::vector<std::string> args{"create", path("app"), "--main", "main", "-o", path("out/p.kay")};
    if (geteuid() == 0) {
        // root reads anything: run as an unprivileged user that can write out/.
        for (const char* p : {"", "/app", "/app/sub"}) chmod(path(p).c_str(), 0755);
        chmod(path("out").c_str(), 0777);
        chmod(path("out/p.kay").c_str(), 0666);
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = "setpriv";
    }
    Result r = run(native(), program, {.args = args});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kay-pack: cannot open '" + path("app/secret") + "': Permission denied\n");
    EXPECT_EQ(read_file(path("out/p.kay")), "old payload");
    EXPECT_EQ(list_dir(path("out")), std::vector<std::string>{"p.kay"});
}

TEST_F(CreateErrors, OutputInAMissingDirectoryOrOnADirectory) {
    Result r = kay_pack({"create", path("app"), "--main", "main", "-o", path("none/p.kay")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kay-pack: cannot create '" + path("none/p.kay") + "': No such file or directory\n");
    EXPECT_FALSE(exists(path("none")));
    r = kay_pack({"create", path("app"), "--main", "main", "-o", path("out")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kay-pack: '" + path("out") + "': is a directory\n");
    EXPECT_EQ(list_dir(path("out")), std::vector<std::string>{});
}

TEST_F(CreateErrors, BadCommandLinesExitWithTwo) {
    std::string app = path("app"), out = path("out/p.kay");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"create", "--main", "main", "-o", out}, "missing APPDIR"},
        {{"create", app, "-o", out}, "missing --main RELPATH"},
        {{"create", app, "--main", "main"}, "missing -o FILE"},
        {{"create", app, "--main", "main", "-o", out, "extra"}, "unexpected argument 'extra'"},
        {{"create", app, "--main", "main", "-o", out, "--level", "0"},
         "option --level needs a whole number from 1 to 22, not '0'"},
        {{"create", app, "--main", "main", "-o", out, "--level=23"},
         "option --level needs a whole number from 1 to 22, not '23'"},
        {{"create", app, "--main", "main", "-o", out, "--threads", "x"},
         "option --threads needs a whole number from 1 to 256, not 'x'"},
        {{"create", app, "--main", "main", "-o", out, "--fast"}, "unknown option '--fast'"},
        {{"create", app, "--main", "main", "-o"}, "option '-o' needs a value"},
        {{"create", app, "--main", "main", "-o", out, "--quiet=1"}, "option '--quiet' takes no value"},
        {{"list"}, "missing FILE"},
        {{"extract", out}, "missing DIR"},
    };
    for (const auto& [args, message] : cases) {
        Result r = kay_pack(args);
        EXPECT_EQ(r.code, 2) << message;
        EXPECT_EQ(r.err, "kay-pack: " + message + " (see kay-pack --help)\n");
    }
    EXPECT_EQ(kay_pack({}).code, 2);
    EXPECT_EQ(list_dir(path("out")), std::vector<std::string>{});
}
