// Launch data compiled into the launcher: the generated constants and the
// payload placed in read-only data. A launcher that links its own
// definitions of g_launch and load_launch_data never takes this file from
// the core library.
#include "format/launch_data.h"
#include "pathspec/config.h"

// The payload, placed in read-only data when the launcher is built.
extern "C" const unsigned char kay_payload_data[] __asm__("kay_payload_data");
extern "C" const std::uint32_t kay_payload_size __asm__("kay_payload_size");

kay_launch_data g_launch = {kay_target_spec, kay_company, kay_product, kay_version,
                            kay_file_version, kay_product_version, kay_payload_data, 0,
                            0xFFFFFFFFu, nullptr, nullptr};

void load_launch_data(void) { g_launch.payload_size = kay_payload_size; }
