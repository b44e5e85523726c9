// What a launcher adds to the core, for the unit tests and the fuzz
// targets: build-time constants and an (empty) attached payload.
#include "payload/launch_data.h"

kay_launch_data g_launch = {KT("{CACHE_DIR}/Dorvan/Velmora/{VERSION}"), KT("Dorvan"), KT("Velmora Classic"),
                            KT("1.0.0.0"), KT("1.0.0.0"), KT("1.0.0.0"), nullptr, 0};

void load_launch_data(void) {}
