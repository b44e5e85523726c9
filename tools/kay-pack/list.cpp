// kay-pack list: one line per entry and a summary, or the same as JSON.
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "entry_stream.h"
#include "names.h"

static const char LIST_HELP[] =
    "usage: kay-pack list FILE [--json]\n"
    "\n"
    "Lists the entries of the payload FILE in stored order: size in bytes, crc\n"
    "as stored (8 hex digits) and name as stored (with '\\' separators), then a\n"
    "summary: entries, total bytes, compressed bytes (the Zstandard frame) and\n"
    "ratio (compressed bytes / total bytes). FILE may also be a launcher: then\n"
    "a first line names its kind (Linux launcher, Windows launcher for a console\n"
    "program, Windows GUI launcher) with the kay version of its program, and\n"
    "its payload is listed.\n"
    "\n"
    "  --json    the same as one JSON object:\n"
    "            {[\"launcher\", \"kay_version\",] \"entries\": [{\"name\", \"size\", \"crc\"}...],\n"
    "             \"count\", \"total_bytes\", \"compressed_bytes\", \"ratio\"}\n"
    "\n"
    "Exit codes: 0 done, 1 unreadable, truncated or corrupt payload, 2 bad command line.\n";

static double ratio(std::uint64_t compressed, std::uint64_t total) {
    return total == 0 ? 0.0 : static_cast<double>(compressed) / static_cast<double>(total);
}

int run_list(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2, {{"--json", nullptr, false}});
    if (args.help) {
        std::fputs(LIST_HELP, stdout);
        return 0;
    }
    expect_positionals(args, {"FILE"});
    bool json = has_option(args, "--json");

    EntryStream stream;
    kay_block block{};
    const char* kind = stream_open_any(stream, args.positional[0], &block);
    // The stream is closed before printing.
    const std::string made_by = stream.made_by, version = stream.kay_version;
    // Decoded in full before printing, so a corrupt payload prints no entries.
    std::string lines;
    std::uint64_t count = 0, total = 0;
    EntryHeader header;
    while (stream_next(stream, header)) {
        stream_content_crc(stream, header.size);
        char fields[64];
        if (json) {
            std::snprintf(fields, sizeof fields, ", \"size\": %llu, \"crc\": \"%08x\"}",
                          (unsigned long long)header.size, header.crc);
            lines += std::string(count == 0 ? "\n    " : ",\n    ") + "{\"name\": " + json_string(header.name) + fields;
        } else {
            std::snprintf(fields, sizeof fields, "%12llu  %08x  ", (unsigned long long)header.size, header.crc);
            lines += fields + display_name(header.name) + "\n";
        }
        count++;
        total += header.size;
    }
    stream_finish(stream);
    std::uint64_t compressed = stream.frame_size;
    stream_close(stream);

    if (json) {
        if (kind != nullptr) std::printf("{\n  \"launcher\": \"%s\",\n  \"kay_version\": \"%s\",\n  ", kind, version.c_str());
        std::printf("%s\"entries\": [%s%s],\n  \"count\": %llu,\n  \"total_bytes\": %llu,\n"
                    "  \"compressed_bytes\": %llu,\n  \"ratio\": %.6f\n}\n",
                    kind != nullptr ? "" : "{\n  ", lines.c_str(), count == 0 ? "" : "\n  ", (unsigned long long)count,
                    (unsigned long long)total, (unsigned long long)compressed, ratio(compressed, total));
    } else {
        if (kind != nullptr) std::printf("%s\n", made_by.c_str());
        std::fputs(lines.c_str(), stdout);
        std::printf("%llu entries, %llu bytes, %llu compressed bytes, ratio %.4f\n", (unsigned long long)count,
                    (unsigned long long)total, (unsigned long long)compressed, ratio(compressed, total));
    }
    return 0;
}
