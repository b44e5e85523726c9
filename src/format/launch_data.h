// What a launcher carries beside its code: the constants fixed when it was
// assembled and the attached payload, read from the data block that
// kay-pack assembled onto the prebuilt program (launch_data_block.cpp).
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
};

extern kay_launch_data g_launch;

// Fills g_launch. A launcher without its data reports the missing header.
void load_launch_data(void);
