// kay-pack verify: decodes a whole payload and checks what the launcher
// relies on.
#include <cstdio>
#include <set>

#include "args.h"
#include "commands.h"
#include "entry_stream.h"
#include "fail.h"
#include "format/format.h"
#include "names.h"
#include "progress.h"

static const char VERIFY_HELP[] =
    "usage: kay-pack verify FILE [--quiet]\n"
    "\n"
    "Decodes the payload FILE and checks: the \"KAY\" magic; exactly one\n"
    "Zstandard frame, without dictionary, whose window is at most 2^27 bytes;\n"
    "every entry complete, with an acceptable name (not empty, at most 1023\n"
    "UTF-16 units, relative, no ':', no '.' or '..' component, no NUL, valid\n"
    "UTF-16), not named twice, and whose crc matches its content (a CRC-32 of 0\n"
    "stored as 1); at least one entry; the end marker with nothing after it; the\n"
    "two zero filler bytes and the trailing length.\n"
    "\n"
    "  -q, --quiet    print nothing when the payload is good\n"
    "\n"
    "Exit codes: 0 good, 1 problems found (each reported on stderr), 2 bad command line.\n";

int run_verify(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2, {{"--quiet", "-q", false}});
    if (args.help) {
        std::fputs(VERIFY_HELP, stdout);
        return 0;
    }
    expect_positionals(args, {"FILE"});
    bool quiet = has_option(args, "--quiet");
    const std::string& path = args.positional[0];

    EntryStream stream;
    stream_open(stream, path);
    Progress progress;
    progress_start(progress, "verifying", quiet, 0, 0);

    std::uint64_t problems = 0, count = 0, total = 0;
    std::set<std::u16string> seen;
    EntryHeader header;
    auto problem = [&](const std::string& text) {
        progress_end(progress);
        report(quoted(path) + ": entry " + std::to_string(count) + " " + quoted(display_name(header.name)) + ": " + text);
        problems++;
    };
    while (stream_next(stream, header)) {
        count++;
        total += header.size;
        if (const char* why = name_problem(header.name)) problem(std::string("unusable name: ") + why);
        if (!seen.insert(header.name).second) problem("name appears more than once");
        std::uint32_t crc = stored_crc(stream_content_crc(stream, header.size));
        char text[96];
        if (header.crc == KAY_CRC_MISSING) {
            problem("crc 0 (the launcher would never write this file)");
        } else if (header.crc != crc) {
            std::snprintf(text, sizeof text, "crc mismatch (stored %08x, content gives %08x)", header.crc, crc);
            problem(text);
        }
        progress_update(progress, count, stream.decoded);
    }
    stream_finish(stream);
    progress_end(progress);
    stream_close(stream);
    if (count == 0) {
        report(quoted(path) + ": no entries (no program to start)");
        problems++;
    }
    if (problems != 0) {
        report(quoted(path) + ": " + std::to_string(problems) + (problems == 1 ? " problem" : " problems"));
        return EXIT_BAD_INPUT;
    }
    if (!quiet)
        std::printf("%s: OK, %llu entries, %llu bytes\n", path.c_str(), (unsigned long long)count,
                    (unsigned long long)total);
    return 0;
}
