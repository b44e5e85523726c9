#include "pe_image.h"

#include <algorithm>
#include <cstring>

#include "fail.h"
#include "format/launcher_file.h"

static constexpr std::uint32_t DATA_READ_ONLY = 0x40000040;  // initialized data, readable
static constexpr int SECURITY_DIRECTORY = 4;
static constexpr int RESOURCE_DIRECTORY = 2;

static std::uint32_t get(const std::string& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

static void set(std::string& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

static std::uint64_t align(std::uint64_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

static std::size_t section(const PeImage& image, std::uint32_t i) {
    return image.section_table + i * PE_SECTION_HEADER_SIZE;
}

static std::uint32_t section_count(const PeImage& image) { return get(image.bytes, image.pe + 6, 2); }

[[noreturn]] static void refuse(const PeImage& image, const std::string& why) { fail(quoted(image.what) + ": " + why); }

PeImage pe_open(std::string bytes, const std::string& what) {
    PeImage image;
    image.what = what;
    image.bytes = std::move(bytes);
    const std::string& b = image.bytes;
    if (b.size() < 0x40 || b.compare(0, 2, "MZ") != 0) refuse(image, "not a Windows program (no MZ header)");
    image.pe = get(b, 0x3C, 4);
    if (image.pe > b.size() - 24 || b.compare(image.pe, 4, std::string("PE\0\0", 4)) != 0)
        refuse(image, "not a Windows program (no PE header)");
    image.optional = image.pe + 24;
    std::size_t optional_size = get(b, image.pe + 20, 2);
    image.section_table = image.optional + optional_size;
    if (image.section_table + section_count(image) * PE_SECTION_HEADER_SIZE > b.size() || optional_size < 2)
        refuse(image, "truncated headers");
    std::uint32_t magic = get(b, image.optional, 2);
    if (magic != 0x10B && magic != 0x20B) refuse(image, "neither PE32 nor PE32+");
    image.plus = magic == 0x20B;
    std::size_t count_at = image.optional + (image.plus ? 108 : 92);
    image.directories = count_at + 4;
    if (image.directories > image.section_table) refuse(image, "truncated optional header");
    image.directory_count = get(b, count_at, 4);
    if (image.directory_count <= SECURITY_DIRECTORY ||
        image.directories + 8 * image.directory_count > image.section_table)
        refuse(image, "too few data directories");
    image.section_alignment = get(b, image.optional + 32, 4);
    image.file_alignment = get(b, image.optional + 36, 4);
    if (image.file_alignment == 0 || image.section_alignment == 0) refuse(image, "zero alignment");

    if (get(b, image.directories + 8 * SECURITY_DIRECTORY + 4, 4) != 0)
        refuse(image, "is signed; start from the unsigned program");
    if (get(b, image.directories + 8 * RESOURCE_DIRECTORY, 4) != 0) refuse(image, "already has resources");
    if (get(b, image.pe + 12, 4) != 0) refuse(image, "carries a symbol table; link it with -s");
    std::uint64_t end = 0;
    for (std::uint32_t i = 0; i < section_count(image); i++)
        end = std::max<std::uint64_t>(end, get(b, section(image, i) + 20, 4) + std::uint64_t{get(b, section(image, i) + 16, 4)});
    if (end != b.size()) refuse(image, "has data after its last section");
    return image;
}

std::uint32_t pe_next_rva(const PeImage& image) {
    std::uint64_t end = 0;
    for (std::uint32_t i = 0; i < section_count(image); i++) {
        std::size_t s = section(image, i);
        std::uint32_t span = std::max(get(image.bytes, s + 8, 4), get(image.bytes, s + 16, 4));
        end = std::max<std::uint64_t>(end, get(image.bytes, s + 12, 4) + std::uint64_t{span});
    }
    std::uint64_t rva = align(end, image.section_alignment);
    if (rva > 0xFFFFFFFFu) refuse(image, "image too large");
    return static_cast<std::uint32_t>(rva);
}

std::uint32_t pe_add_section(PeImage& image, const char* name, const std::string& data) {
    std::string& b = image.bytes;
    std::uint32_t n = section_count(image);
    std::size_t header = section(image, n);
    // The new header must fit before the first section's data, in zeros.
    std::uint64_t room = get(b, image.optional + 60, 4);  // SizeOfHeaders
    for (std::uint32_t i = 0; i < n; i++) {
        std::uint32_t raw = get(b, section(image, i) + 20, 4);
        if (raw != 0) room = std::min<std::uint64_t>(room, raw);
        room = std::min<std::uint64_t>(room, get(b, section(image, i) + 12, 4));
    }
    if (header + PE_SECTION_HEADER_SIZE > room ||
        b.find_first_not_of('\0', header) < header + PE_SECTION_HEADER_SIZE)
        refuse(image, "no room in the headers for another section (" + std::to_string(n) + " already)");
    std::uint32_t rva = pe_next_rva(image);
    std::uint64_t raw = align(b.size(), image.file_alignment);
    std::uint64_t raw_size = align(data.size(), image.file_alignment);
    std::uint64_t image_size = align(rva + std::uint64_t{data.size()}, image.section_alignment);
    if (raw + raw_size > 0xFFFFFFFFu || image_size > 0xFFFFFFFFu) refuse(image, "image too large");

    std::string header_bytes(PE_SECTION_HEADER_SIZE, '\0');
    std::memcpy(header_bytes.data(), name, std::min<std::size_t>(std::strlen(name), 8));
    set(header_bytes, 8, static_cast<std::uint32_t>(data.size()), 4);
    set(header_bytes, 12, rva, 4);
    set(header_bytes, 16, static_cast<std::uint32_t>(raw_size), 4);
    set(header_bytes, 20, static_cast<std::uint32_t>(raw), 4);
    set(header_bytes, 36, DATA_READ_ONLY, 4);
    b.replace(header, PE_SECTION_HEADER_SIZE, header_bytes);
    set(b, image.pe + 6, n + 1, 2);

    b.resize(raw, '\0');
    b += data;
    b.resize(raw + raw_size, '\0');
    set(b, image.optional + 56, static_cast<std::uint32_t>(image_size), 4);  // SizeOfImage
    std::uint32_t initialized = get(b, image.optional + 8, 4);                // SizeOfInitializedData
    set(b, image.optional + 8, initialized + static_cast<std::uint32_t>(raw_size), 4);
    return rva;
}

void pe_set_directory(PeImage& image, int index, std::uint32_t rva, std::uint32_t size) {
    set(image.bytes, image.directories + 8 * index, rva, 4);
    set(image.bytes, image.directories + 8 * index + 4, size, 4);
}

std::uint32_t pe_checksum(const std::string& bytes) {
    // 16-bit little-endian words summed with end-around carry, plus the length.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::uint64_t sum = 0;
    std::size_t n = bytes.size();
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        sum += p[i] | (p[i + 1] << 8);
        if ((i & 0xFFFF) == 0) sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (n % 2 != 0) sum += p[n - 1];
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + n);
}

void pe_finish(PeImage& image) {
    set(image.bytes, image.pe + 8, 0, 4);  // TimeDateStamp
    std::size_t field = image.optional + 64;
    set(image.bytes, field, 0, 4);
    set(image.bytes, field, pe_checksum(image.bytes), 4);
}
