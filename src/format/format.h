// The payload format, shared by the launcher, kay-pack and the tests:
//   "KAY" | one Zstandard frame | 00 00 | u64 LE count of the bytes before it
// The frame decodes to entries (UTF-16LE name + 0x0000, u64 size, u32 crc,
// content) ended by an empty name. No OS header here: this builds for every
// target and for the tools.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned char KAY_MAGIC[3] = {'K', 'A', 'Y'};
// The filler and the trailing length after the frame.
constexpr std::size_t KAY_TAIL_SIZE = 10;

// An entry name in UTF-16 units, terminator included (so at most 1023).
constexpr std::uint32_t KAY_NAME_CAPACITY = 1024;
// A launcher's path buffers (target directory, entry paths), terminator included.
constexpr std::uint32_t KAY_PATH_CAPACITY = 4096;

// The launcher decodes into a window of this many bytes at a time.
constexpr std::size_t KAY_WINDOW_SIZE = 131072;
// The largest frame window, 2^27 bytes: the most kay-pack writes and what a
// launcher's decoder takes with its default parameters (the library rounds
// its limit up by one byte).
constexpr unsigned KAY_WINDOW_LOG = 27;

// A launcher takes a file's CRC-32 as 0 when the file is missing or
// unusable, so a stored crc of 0 would never match and the file would never
// be written. The stored crc is the content's CRC-32 with 0 taken as 1; a
// launcher takes an existing file's checksum the same way.
constexpr std::uint32_t KAY_CRC_MISSING = 0;
constexpr std::uint32_t stored_crc(std::uint32_t crc) { return crc == KAY_CRC_MISSING ? 1 : crc; }

// Little-endian integers of `bytes` bytes.
inline std::uint64_t get_le(const unsigned char* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; i--) value = (value << 8) | p[i];
    return value;
}
template <typename Bytes>
void put_le(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(static_cast<typename Bytes::value_type>((value >> (8 * i)) & 0xFF));
}

// Why an entry name is refused, or KAY_NAME_OK. A name must stay inside the
// target directory on every system: relative, no ':' (drive letters, stream
// names), components separated by '\' or '/', none of them empty or made of
// dots and blanks only (Windows drops trailing dots and blanks, so "..",
// ". " and "..." may all mean a parent), none that Windows takes for a
// device, and valid UTF-16. A payload is portable, so every system refuses
// the same names.
enum kay_name_reason {
    KAY_NAME_OK,
    KAY_NAME_EMPTY,
    KAY_NAME_TOO_LONG,        // more than KAY_NAME_CAPACITY - 1 units
    KAY_NAME_ABSOLUTE,        // a leading separator
    KAY_NAME_NUL,
    KAY_NAME_COLON,
    KAY_NAME_BAD_UTF16,
    KAY_NAME_EMPTY_COMPONENT, // "a\\b", "dir\"
    KAY_NAME_DOT_COMPONENT,
    // CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also COM and LPT with a
    // superscript 1, 2 or 3), CONIN$ or CONOUT$, in any case, with or
    // without an extension or trailing dots and blanks: "nul", "Aux.tar.gz",
    // "COM1 ", "con.". Windows sends what is written there to the device.
    KAY_NAME_DEVICE,
    // A first component beginning ".kay-state", in any case: the launcher's
    // own record in the target folder (format/state_record.h).
    KAY_NAME_RESERVED,
};
kay_name_reason check_entry_name(const char16_t* name, std::size_t length);

// Which entry names are one file. On every system '/' and '\\' are the same
// separator. Windows also ignores case and drops trailing dots and blanks of
// each component, so "Readme.txt" and "readme.txt", "x" and "x." are one
// file there. kay-pack takes the Windows rules for a Windows target, and for
// a payload without a target when its main program ends in ".exe".
enum kay_name_rules { KAY_NAMES_ANY_SYSTEM, KAY_NAMES_WINDOWS };
// The key of an acceptable entry name: two names are one file under `rules`
// when their keys are equal. Writes at most `length` units to `key` and
// returns their count.
std::size_t entry_name_key(const char16_t* name, std::size_t length, kay_name_rules rules, char16_t* key);

// One code point of UTF-16 text `s` of `n` units from s[*i], which moves past
// it. An unpaired surrogate gives false, with the unit itself in *cp.
bool utf16_next(const char16_t* s, std::size_t n, std::size_t* i, std::uint32_t* cp);
// One code point of strict UTF-8 (no overlong forms, surrogates or values
// above U+10FFFF) from s[*i]; false on invalid input.
bool utf8_next(const char* s, std::size_t n, std::size_t* i, std::uint32_t* cp);
// The UTF-8 bytes of `cp` into `out`; returns their count (1 to 4).
unsigned utf8_encode(std::uint32_t cp, char out[4]);

