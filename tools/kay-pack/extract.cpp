// kay-pack extract: unpacks a payload into a directory, for inspection.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <libdeflate.h>

#include "args.h"
#include "commands.h"
#include "entry_stream.h"
#include "fail.h"
#include "format/format.h"
#include "host.h"
#include "names.h"
#include "output_file.h"
#include "progress.h"

static const char EXTRACT_HELP[] =
    "usage: kay-pack extract FILE DIR [--quiet]\n"
    "\n"
    "Unpacks the payload FILE into DIR (created if missing), with the names\n"
    "rules of the launcher: a name that is empty, absolute, has ':', a '.' or\n"
    "'..' component, a NUL or invalid UTF-16 stops the extraction, and nothing\n"
    "is written through a symbolic link or outside DIR. Each file appears under\n"
    "its name only when complete and its crc checked. The first entry (the main\n"
    "program) is made executable.\n"
    "\n"
    "  -q, --quiet    no progress line and no summary\n"
    "\n"
    "Exit codes: 0 done, 1 bad or corrupt payload or I/O failure, 2 bad command line.\n";

// Makes `dir` a directory if it is not one; refuses symbolic links so that
// nothing lands outside the extraction directory.
static void ensure_directory(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::file_status st = fs::symlink_status(fs_path(dir), ec);
    if (fs::exists(st)) {
        if (fs::is_symlink(st)) fail(::quoted(dir) + ": symbolic link, refusing to write through it");
        if (!fs::is_directory(st)) fail(::quoted(dir) + ": exists and is not a directory");
        return;
    }
    if (ec && ec != std::errc::no_such_file_or_directory) fail("cannot examine " + ::quoted(dir) + ": " + error_text(ec));
    fs::create_directory(fs_path(dir), ec);
    if (ec) fail("cannot create directory " + ::quoted(dir) + ": " + error_text(ec));
}

// The file's path under `root`, creating its directories.
static std::string prepare_path(const std::string& root, const std::u16string& name) {
    std::string path = root;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); i++) {
        if (i < name.size() && name[i] != u'\\' && name[i] != u'/') continue;
        std::string part;
        utf16_to_utf8(name.substr(start, i - start), part);  // valid: the name rules were checked
        if (i < name.size()) {
            path += "/" + part;
            ensure_directory(path);
        } else {
            path += "/" + part;
        }
        start = i + 1;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(fs_path(path), ec)))
        fail(::quoted(path) + ": is a directory");
    return path;
}

int run_extract(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2, {QUIET_OPTION});
    if (args.help) {
        std::fputs(EXTRACT_HELP, stdout);
        return 0;
    }
    expect_positionals(args, {"FILE", "DIR"});
    bool quiet = has_option(args, "--quiet");
    const std::string& path = args.positional[0];
    std::string root = args.positional[1];
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    EntryStream stream;
    stream_open(stream, path);
    ensure_directory(root);
    Progress progress;
    progress_start(progress, "extracting", quiet, 0, 0);

    std::uint64_t count = 0, total = 0;
    EntryHeader header;
    while (stream_next(stream, header)) {
        count++;
        std::string what = ::quoted(path) + ": entry " + std::to_string(count) + " " + ::quoted(display_name(header.name));
        if (const char* why = name_problem(header.name)) fail(what + ": unusable name: " + why);
        OutputFile out;
        output_open(out, prepare_path(root, header.name));
        std::uint32_t crc = 0;
        for (std::uint64_t left = header.size; left > 0;) {
            const unsigned char* data;
            std::size_t n = stream_content(stream, &data, left);
            crc = libdeflate_crc32(crc, data, n);
            output_write(out, data, n);
            left -= n;
        }
        std::uint32_t stored = stored_crc(crc);
        if (header.crc != stored) {
            output_abandon(out);
            char text[80];
            std::snprintf(text, sizeof text, ": crc mismatch (stored %08x, content gives %08x)", header.crc, stored);
            fail(what + text);
        }
        output_commit(out, count == 1 ? 0777 : 0666);
        total += header.size;
        progress_update(progress, count, total);
    }
    stream_finish(stream);
    progress_end(progress);
    stream_close(stream);
    if (!quiet)
        std::printf("%s: %llu files, %llu bytes extracted to %s\n", path.c_str(), (unsigned long long)count,
                    (unsigned long long)total, root.c_str());
    return 0;
}
