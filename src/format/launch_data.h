// What a launcher carries beside its code: the constants fixed when it was
// assembled and the attached payload, read from the data block that
// kay-pack assembled onto the prebuilt program (launch_data_block.cpp);
// and the context of one run, which bootstrap makes at the start and
// passes down to the layers that need part of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/text.h"

struct kay_launch_data {
    const kchar* target_spec;
    const kchar* company;
    const kchar* product;
    const kchar* version;
    const kchar* file_version;
    const kchar* product_version;
    const unsigned char* payload;  // "KAY" | frame | 00 00 | length
    std::size_t payload_size;
    // The payload's entries in order (data_block.h): `index_count` of them
    // from `index` to `index_end`; index_count KAY_NO_INDEX when there is no
    // index and every start decodes the payload.
    std::uint32_t index_count;
    const unsigned char* index;
    const unsigned char* index_end;
    // A console launcher writes a progress line on a terminal during a long
    // unpacking (kay-pack build --progress).
    bool progress_line;
    bool check_content;  // no state record: every file read at every start
    // The versions of the product kept beside the target folder, its own
    // counted; 0 keeps every one.
    std::uint32_t keep_versions;
    // The company and product texts as the meta stores them (each a u32
    // LE unit count and UTF-16LE units), which the state record keeps to
    // tell the product's versions from other folders.
    const unsigned char* identity;
    std::size_t identity_size;
};

// Fills `out`. A launcher without its data reports the missing header.
void load_launch_data(kay_launch_data* out);

// Room for the launcher's own path, terminator included: one unit more than
// a path buffer, so that a path of exactly KAY_PATH_CAPACITY units is told
// apart from one that was cut short.
constexpr std::uint32_t KAY_OWN_PATH_CAPACITY = 4097;

// The launcher's own path as the system gave it (module_path) once, at the
// start of the run: a launcher file renamed or replaced while a long cold
// start unpacks changes neither the tokens nor what the child is given.
struct kay_own_path {
    kchar text[KAY_OWN_PATH_CAPACITY];  // terminated; cut short when it did not fit
    // module_path's result: 0 when the path could not be had,
    // KAY_OWN_PATH_CAPACITY or more when it did not fit.
    std::uint32_t length;
};

struct kay_launch_context {
    kay_launch_data data;
    kay_own_path own_path;
};
