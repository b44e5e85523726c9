// What a launcher build adds to the core, for the unit tests and the fuzz
// targets: build-time constants and an (empty) attached payload.
#include <cstdint>

#include "pathspec/config.h"

const kchar kay_target_spec[] = KT("{CACHE_DIR}/Dorvan/Velmora/{VERSION}");
const kchar kay_company[] = KT("Dorvan");
const kchar kay_product[] = KT("Velmora Classic");
const kchar kay_version[] = KT("1.0.0.0");
const kchar kay_file_version[] = KT("1.0.0.0");
const kchar kay_product_version[] = KT("1.0.0.0");

extern "C" const unsigned char kay_payload_data[] __asm__("kay_payload_data") = {0};
extern "C" const std::uint32_t kay_payload_size __asm__("kay_payload_size") = 0;
