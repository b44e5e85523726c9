// What a launcher build adds to the core, for the unit tests and the fuzz
// targets: an (empty) attached payload; the build-time constants come with
// the defaults from kay_write_constants (tests/CMakeLists.txt).
#include <cstdint>

extern "C" const unsigned char kay_payload_data[] __asm__("kay_payload_data") = {0};
extern "C" const std::uint32_t kay_payload_size __asm__("kay_payload_size") = 0;
