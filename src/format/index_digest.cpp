#include "format/data_block.h"

std::uint64_t index_digest(const unsigned char* bytes, std::size_t size) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::size_t i = 0; i < size; i++) hash = (hash ^ bytes[i]) * 0x100000001b3u;
    return hash;
}
