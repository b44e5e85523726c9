// Where the prebuilt launcher finds the data block assembled onto it.
#pragma once

#include <cstddef>

// Sets *data and *size to bytes of the launcher's own image that end with
// its data block (the block is found from the end; see format/data_block.h):
// on POSIX the whole program file, mapped read-only; on Windows the content
// of the loaded image's ".kay" section. False when there is none.
bool kay_locate_data_block(const unsigned char** data, std::size_t* size);
