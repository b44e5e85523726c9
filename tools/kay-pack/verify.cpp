// kay-pack verify: decodes a whole payload, alone or inside a launcher, and
// checks what the launcher relies on.
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "entry_stream.h"
#include "fail.h"
#include "format/data_block.h"
#include "format/format.h"
#include "format/launcher_file.h"
#include "launcher_block.h"
#include "names.h"
#include "progress.h"

static const char VERIFY_HELP[] =
    "usage: kay-pack verify FILE [--quiet]\n"
    "\n"
    "Decodes the payload FILE and checks: the \"KAY\" magic; exactly one\n"
    "Zstandard frame, without dictionary, whose window is at most 2^27 bytes;\n"
    "every entry complete, with an acceptable name (not empty, at most %u\n"
    "UTF-16 units, relative, no ':', no '.' or '..' component, no NUL, valid\n"
    "UTF-16), not named twice (nor, for a Windows launcher or a payload whose\n"
    "first entry ends in .exe, by names Windows takes for one file: case, trailing\n"
    "dots and blanks and '/' for '\\' do not count; '/' and '\\' are one separator\n"
    "everywhere), and whose crc matches its content (a CRC-32 of 0 stored as 1);\n"
    "at least one entry; the end marker with nothing after it; the two zero filler\n"
    "bytes and the trailing length.\n"
    "\n"
    "FILE may also be a launcher (Linux or Windows): then its data block is\n"
    "found as the launcher finds it, the constants and the entry index are\n"
    "checked against their CRC-32, the payload as above, and the index must\n"
    "match the payload entry for entry.\n"
    "\n"
    "  -q, --quiet    print nothing when the payload is good\n"
    "\n"
    "Exit codes: 0 good, 1 problems found (each reported on stderr), 2 bad command line.\n";


int run_verify(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2, {QUIET_OPTION});
    if (args.help) {
        std::printf(VERIFY_HELP, static_cast<unsigned>(KAY_NAME_CAPACITY - 1));
        return 0;
    }
    expect_positionals(args, {"FILE"});
    bool quiet = has_option(args, "--quiet");
    const std::string& path = args.positional[0];

    EntryStream stream;
    kay_block block{};
    const char* kind = stream_open_any(stream, path, &block);
    kay_launcher_kind launcher = launcher_kind(stream.map.data, stream.map.size);
    Progress progress;
    progress_start(progress, "verifying", quiet, 0, 0);

    std::uint64_t problems = 0, count = 0, total = 0;
    // A launcher's entries must be apart on its system; a payload's on
    // Windows when its main program ends in ".exe".
    NameSet names{name_rules(launcher == KAY_WINDOWS_LAUNCHER), {}};
    std::vector<IndexEntry> entries;
    EntryHeader header;
    auto problem = [&](const std::string& text) {
        progress_end(progress);
        report(::quoted(path) + ": entry " + std::to_string(count) + " " + ::quoted(display_name(header.name)) + ": " + text);
        problems++;
    };
    while (stream_next(stream, header)) {
        count++;
        total += header.size;
        if (const char* why = name_problem(header.name)) problem(std::string("unusable name: ") + why);
        if (count == 1 && kind == nullptr) names.rules = name_rules(is_windows_program(header.name));
        if (const auto* earlier = name_set_add(names, header.name, count)) {
            if (earlier->second == header.name) problem("name appears more than once");
            else problem("the same file as entry " + std::to_string(earlier->first) + " " +
                         ::quoted(display_name(earlier->second)) + " " + same_file_text(names.rules));
        }
        std::uint32_t crc = stored_crc(stream_content_crc(stream, header.size));
        char text[96];
        if (header.crc == KAY_CRC_MISSING) {
            problem("crc 0 (the launcher would never write this file)");
        } else if (header.crc != crc) {
            std::snprintf(text, sizeof text, "crc mismatch (stored %08x, content gives %08x)", header.crc, crc);
            problem(text);
        }
        entries.push_back({header.name, header.size, header.crc});
        progress_update(progress, count, stream.decoded);
    }
    stream_finish(stream);
    progress_end(progress);
    if (count == 0) {
        report(::quoted(path) + ": no entries (no program to start)");
        problems++;
    }
    // The launcher trusts the index for what it finds on disk: it must say
    // what the payload says.
    if (kind != nullptr && block.index_count != KAY_NO_INDEX) {
        const unsigned char* cursor = block.index;
        kay_index_entry e;
        std::size_t i = 0;
        for (; next_index_entry(block, &cursor, &e); i++) {
            std::u16string name;
            for (std::uint32_t k = 0; k < e.name_units; k++) name.push_back(unit_at(e.name, k));
            if (i >= entries.size() || entries[i].name != name || entries[i].size != e.size || entries[i].crc != e.crc) {
                report(::quoted(path) + ": index entry " + std::to_string(i + 1) + " " + ::quoted(display_name(name)) +
                       ": does not match the payload");
                problems++;
                break;
            }
        }
        if (i == block.index_count && i != entries.size()) {
            report(::quoted(path) + ": the index has " + std::to_string(i) + " entries, the payload " +
                   std::to_string(entries.size()));
            problems++;
        }
    }
    stream_close(stream);  // the block lies in its mapping
    if (problems != 0) {
        report(::quoted(path) + ": " + std::to_string(problems) + (problems == 1 ? " problem" : " problems"));
        return EXIT_BAD_INPUT;
    }
    if (!quiet) {
        std::string what = kind == nullptr ? "" : stream.made_by + (block.index_count == KAY_NO_INDEX ? " without index, " : ", ");
        std::printf("%s: OK, %s%llu entries, %llu bytes\n", path.c_str(), what.c_str(), (unsigned long long)count,
                    (unsigned long long)total);
    }
    return 0;
}
