// kay-pack create: packs an application directory into a payload.
#include "create.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <libdeflate.h>
#include <thread>
#include <vector>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameProgression
#include <zstd.h>

#include "args.h"
#include "commands.h"
#include "fail.h"
#include "format/format.h"
#include "host.h"
#include "main_path.h"
#include "names.h"
#include "output_file.h"
#include "prebuilt.h"
#include "progress.h"
#include "tree_scan.h"

static const char CREATE_HELP[] =
    "usage: kay-pack create APPDIR --main RELPATH -o FILE [options]\n"
    "\n"
    "Packs every regular file under APPDIR into the payload FILE: RELPATH (the\n"
    "program the launcher starts) first, then all others ordered by extension\n"
    "and name. The same tree always gives the same bytes.\n"
    "\n"
    "  --main RELPATH       main executable, relative to APPDIR ('/' or '\\')\n"
    "  -o, --output FILE    payload to write (replaced only when complete)\n"
    "%s"
    "  -q, --quiet          no progress line and no summary\n"
    "\n"
    "Exit codes: 0 done, 1 bad input or I/O failure, 2 bad command line.\n";

const char CREATE_OPTIONS_HELP[] =
    "  --level N            Zstandard level 1..22 (default 19)\n"
    "  --threads N          compression threads (default: all cores); the\n"
    "                       output does not depend on N\n"
    "  --follow-symlinks    pack what symbolic links point to instead of refusing them\n";

static constexpr std::size_t READ_CHUNK = 1 << 20;
static constexpr int DEFAULT_LEVEL = 19;

namespace {

struct Packer {
    ZSTD_CCtx* cctx = nullptr;
    Progress progress;
    std::uint64_t fed = 0;               // entry stream bytes given to the compressor
    std::vector<std::uint64_t> file_ends;  // stream offset after each file fed
    OutputFile out;
    std::vector<unsigned char> out_buf;
    std::vector<unsigned char> read_buf;
};

}  // namespace

// Progress counts what the compressor has consumed: with worker threads it
// lags well behind what was fed.
static void show_progress(Packer& packer) {
    if (!packer.progress.enabled) return;
    std::uint64_t consumed = ZSTD_getFrameProgression(packer.cctx).consumed;
    std::uint64_t files = static_cast<std::uint64_t>(
        std::upper_bound(packer.file_ends.begin(), packer.file_ends.end(), consumed) - packer.file_ends.begin());
    progress_update(packer.progress, files, std::min(consumed, packer.progress.bytes_total));
}

static void compress(Packer& packer, const void* data, std::size_t size, ZSTD_EndDirective mode) {
    packer.fed += size;
    ZSTD_inBuffer in{data, size, 0};
    for (;;) {
        ZSTD_outBuffer out{packer.out_buf.data(), packer.out_buf.size(), 0};
        std::size_t left = ZSTD_compressStream2(packer.cctx, &out, &in, mode);
        if (ZSTD_isError(left)) fail(std::string("compression failed: ") + ZSTD_getErrorName(left));
        output_write(packer.out, packer.out_buf.data(), out.pos);
        show_progress(packer);
        if (mode == ZSTD_e_end ? left == 0 : in.pos == in.size) break;
    }
}

static void set_param(ZSTD_CCtx* cctx, ZSTD_cParameter param, int value, const char* what) {
    std::size_t r = ZSTD_CCtx_setParameter(cctx, param, value);
    if (ZSTD_isError(r)) fail(std::string("cannot set ") + what + ": " + ZSTD_getErrorName(r));
}

// Reads up to `size` bytes; fewer only at the end of the file.
static std::size_t read_some(std::FILE* in, unsigned char* buf, std::size_t size, const SourceFile& file) {
    std::size_t got = std::fread(buf, 1, size, in);
    if (got < size && std::ferror(in)) fail_errno("cannot read " + ::quoted(file.path));
    return got;
}

[[noreturn]] static void changed(const SourceFile& file) {
    fail(::quoted(file.path) + ": changed while being packed");
}

// Reads the whole file, checking its size; returns its CRC-32. When the file
// fits in the read buffer, its content is left there.
static std::uint32_t read_pass(Packer& packer, std::FILE* fd, const SourceFile& file, bool feed) {
    std::uint32_t crc = 0;
    std::uint64_t done = 0;
    for (;;) {
        std::size_t n = read_some(fd, packer.read_buf.data(), packer.read_buf.size(), file);
        if (n == 0) break;
        done += n;
        if (done > file.size) changed(file);
        crc = libdeflate_crc32(crc, packer.read_buf.data(), n);
        if (feed) compress(packer, packer.read_buf.data(), n, ZSTD_e_continue);
        if (n < packer.read_buf.size()) {
            if (read_some(fd, packer.read_buf.data() + n, 1, file) != 0) changed(file);
            break;
        }
    }
    if (done != file.size) changed(file);
    return crc;
}

static std::uint32_t pack_file(Packer& packer, const SourceFile& file) {
    std::FILE* fd = host_fopen(file.path, "rb");
    if (fd == nullptr) fail_errno("cannot open " + ::quoted(file.path));
    std::uint32_t crc = read_pass(packer, fd, file, false);

    std::string header;
    for (char16_t unit : file.name) put_le(header, unit, 2);
    put_le(header, 0, 2);
    put_le(header, file.size, 8);
    put_le(header, stored_crc(crc), 4);
    compress(packer, header.data(), header.size(), ZSTD_e_continue);

    if (file.size < packer.read_buf.size()) {
        compress(packer, packer.read_buf.data(), file.size, ZSTD_e_continue);
    } else {
        if (std::fseek(fd, 0, SEEK_SET) != 0) fail_errno("cannot read " + ::quoted(file.path));
        if (read_pass(packer, fd, file, true) != crc) changed(file);
    }
    std::fclose(fd);
    return stored_crc(crc);
}

// Files are ordered by extension, then by name: like files side by side
// compress better than a plain name order.
static std::u16string extension(const std::u16string& name) {
    std::size_t dot = name.rfind(u'.');
    std::size_t sep = name.rfind(u'\\');
    if (dot == std::u16string::npos || (sep != std::u16string::npos && dot < sep)) return {};
    return name.substr(dot);
}

// The frame's window: the smallest power of two that holds the whole entry
// stream, at most 2^27. The launcher's decoder reserves that much, so a
// small payload needs little memory to unpack.
static int window_log(std::uint64_t stream_size) {
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < static_cast<int>(KAY_WINDOW_LOG) && (std::uint64_t{1} << log) < stream_size) log++;
    return log;
}

static std::string strip_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

CreateResult create_payload(const CreateRequest& request) {
    std::string root = strip_trailing_slashes(request.root);
    std::error_code ec;
    std::filesystem::file_status root_st = std::filesystem::status(fs_path(root), ec);
    if (ec) fail("application directory " + ::quoted(root) + ": " + error_text(ec));
    if (!std::filesystem::is_directory(root_st)) fail("application directory " + ::quoted(root) + ": not a directory");
    CreateResult result;
    result.main_rel = resolve_main(root, request.main, request.follow_symlinks);
    std::u16string main_name = entry_name_for(result.main_rel, root + "/" + result.main_rel);

    std::vector<std::string> empty_dirs;
    std::vector<SourceFile> files = scan_tree(root, request.follow_symlinks, empty_dirs);
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) {
        std::u16string ea = extension(a.name), eb = extension(b.name);
        return ea != eb ? ea < eb : a.name < b.name;
    });
    auto main_it = std::find_if(files.begin(), files.end(),
                                [&](const SourceFile& f) { return f.name == main_name; });
    if (main_it == files.end()) fail("--main " + ::quoted(request.main) + ": not among the files of " + ::quoted(root));
    std::rotate(files.begin(), main_it, main_it + 1);
    // Two names that are one file where the payload is unpacked would lose
    // one of them. A launcher's target says which system that is; a payload
    // alone is for Windows when its main program ends in ".exe".
    bool windows = request.target.empty() ? is_windows_program(main_name) : windows_target(request.target);
    NameSet names{name_rules(windows), {}};
    for (std::size_t i = 0; i < files.size(); i++)
        if (const auto* earlier = name_set_add(names, files[i].name, i))
            fail(::quoted(files[earlier->first].rel) + " and " + ::quoted(files[i].rel) + " are the same file " +
                 same_file_text(names.rules));
    // The format has no folder entries: say once what is left out.
    if (!empty_dirs.empty() && !request.quiet) {
        std::string first = ::quoted(empty_dirs[0]);
        std::string what = std::to_string(empty_dirs.size()) + " empty folders, the first " + first;
        if (empty_dirs.size() == 1) what = "the empty folder " + first;
        warn("left out " + what + " (a payload holds files only)");
    }

    std::uint64_t total = 0, stream_size = 2;  // the end marker
    for (const SourceFile& file : files) {
        total += file.size;
        stream_size += file.name.size() * 2 + 2 + 12 + file.size;
    }

    Packer packer;
    packer.cctx = ZSTD_createCCtx();
    if (packer.cctx == nullptr) fail("out of memory");
    set_param(packer.cctx, ZSTD_c_compressionLevel, request.level, "the compression level");
    set_param(packer.cctx, ZSTD_c_windowLog, window_log(stream_size), "the window size");
    set_param(packer.cctx, ZSTD_c_enableLongDistanceMatching, 1, "long-distance matching");
    // The frame's own checksum: the zstd tool, verify and the launcher's
    // decoder also see damage outside file content (names, sizes). Launchers
    // that predate it read such frames the same way.
    set_param(packer.cctx, ZSTD_c_checksumFlag, 1, "the checksum flag");
    set_param(packer.cctx, ZSTD_c_contentSizeFlag, 0, "the content size flag");
    // Always through worker threads: their output is the same for any count.
    set_param(packer.cctx, ZSTD_c_nbWorkers, request.threads, "the number of threads");
    packer.out_buf.resize(ZSTD_CStreamOutSize());
    packer.read_buf.resize(READ_CHUNK);

    output_open(packer.out, request.output);
    output_write(packer.out, KAY_MAGIC, sizeof KAY_MAGIC);

    progress_start(packer.progress, "packing", request.quiet, files.size(), total);
    for (const SourceFile& file : files) {
        result.index.push_back({file.name, file.size, pack_file(packer, file)});
        packer.file_ends.push_back(packer.fed);
    }
    const unsigned char end_marker[2] = {0, 0};
    compress(packer, end_marker, sizeof end_marker, ZSTD_e_end);
    ZSTD_freeCCtx(packer.cctx);
    progress_end(packer.progress);

    result.frame_size = packer.out.written - sizeof KAY_MAGIC;
    std::string tail;
    put_le(tail, 0, 2);
    put_le(tail, packer.out.written + 2, 8);
    output_write(packer.out, tail.data(), tail.size());
    result.payload_size = packer.out.written;
    output_commit(packer.out, 0666);
    result.files = files.size();
    result.bytes = total;
    return result;
}

int run_create(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2, create_options());
    if (args.help) {
        std::printf(CREATE_HELP, CREATE_OPTIONS_HELP);
        return 0;
    }
    expect_create_arguments(args, "FILE");
    CreateRequest request = create_request(args);
    CreateResult r = create_payload(request);
    if (!request.quiet)
        std::printf("%s: %llu files, %llu bytes, compressed to %llu bytes (payload %llu bytes)\n",
                    request.output.c_str(), (unsigned long long)r.files, (unsigned long long)r.bytes,
                    (unsigned long long)r.frame_size, (unsigned long long)r.payload_size);
    return 0;
}

std::vector<OptionSpec> create_options() {
    return {MAIN_OPTION,           OUTPUT_OPTION, {"--level", nullptr, true}, {"--threads", nullptr, true},
            {"--follow-symlinks", nullptr, false}, QUIET_OPTION};
}

void expect_create_arguments(const ParsedArgs& args, const char* output_name) {
    expect_positionals(args, {"APPDIR"});
    if (!has_option(args, "--main")) fail_usage("missing --main RELPATH");
    if (!has_option(args, "--output")) fail_usage(std::string("missing -o ") + output_name);
}

CreateRequest create_request(const ParsedArgs& args) {
    CreateRequest request;
    request.level = static_cast<int>(int_option(args, "--level", 1, ZSTD_maxCLevel(), DEFAULT_LEVEL));
    long cores = std::max(1u, std::thread::hardware_concurrency());
    request.threads = static_cast<int>(int_option(args, "--threads", 1, 256, cores));
    request.follow_symlinks = has_option(args, "--follow-symlinks");
    request.quiet = has_option(args, "--quiet");
    request.root = args.positional[0];
    request.main = args.options.at("--main");
    request.output = args.options.at("--output");
    return request;
}
