// Launch data compiled into the launcher: the generated constants and the
// payload placed in read-only data. A launcher that links its own
// definitions of g_launch and load_launch_data never takes this file from
// the core library.
#include "pathspec/config.h"
#include "payload/format.h"
#include "payload/launch_data.h"

kay_launch_data g_launch = {kay_target_spec, kay_company, kay_product, kay_version,
                            kay_file_version, kay_product_version, kay_payload_data, 0};

void load_launch_data(void) { g_launch.payload_size = kay_payload_size; }
