// What kay-pack verify reads from an untrusted launcher before it decodes
// anything, over arbitrary bytes: the launcher's kind, its PE section,
// the data block and the entry index. Allowed outcomes: the block is
// refused, or everything the reader hands out lies inside the input and
// says what the block's own fields say. Anything else is a finding.
#include <cstddef>
#include <cstdint>

#include "format/data_block.h"
#include "format/format.h"
#include "format/launcher_file.h"

namespace {

[[noreturn]] void finding() { __builtin_trap(); }

void expect_inside(const unsigned char* from, std::uint64_t bytes, const unsigned char* begin,
                   const unsigned char* end) {
    if (from < begin || from > end || bytes > static_cast<std::uint64_t>(end - from)) finding();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const unsigned char* data = input;
    const unsigned char* end = input + size;
    kay_launcher_kind kind = launcher_kind(data, size);
    // The kind's name reads the PE header's subsystem field.
    if ((launcher_kind_name(data, size) == nullptr) != (kind == KAY_NOT_A_LAUNCHER)) finding();
    if (!launcher_block_bytes(kind, &data, &size)) return 0;
    expect_inside(data, size, input, end);
    kay_block block{};
    if (read_data_block(data, size, &block) != KAY_BLOCK_OK) return 0;
    end = data + size;
    for (const kay_block_string& text : block.texts) expect_inside(text.units, 2 * std::uint64_t{text.count}, data, end);
    expect_inside(block.payload, block.payload_size, data, end);
    if (block.payload + block.payload_size != end) finding();
    if (get_le(end - 8, 8) + 8 != block.payload_size) finding();
    expect_inside(block.index, static_cast<std::uint64_t>(block.index_end - block.index), data, block.payload);
    // The index holds exactly the entries it counts.
    std::uint64_t count = 0;
    kay_index_entry entry;
    for (const unsigned char* cursor = block.index; next_index_entry(block, &cursor, &entry); count++) {
        expect_inside(entry.name, 2 * std::uint64_t{entry.name_units} + 2 + KAY_INDEX_FIELDS_SIZE, block.index,
                      block.index_end);
        if (entry.name_units > 0 && unit_at(entry.name, entry.name_units - 1) == 0) finding();
    }
    if (count != (block.index_count == KAY_NO_INDEX ? 0 : block.index_count)) finding();
    // The optional flags field is the meta's last 4 bytes, after the index.
    if (block.flags != 0 && get_le(block.index_end, 4) != block.flags) finding();
    return 0;
}
