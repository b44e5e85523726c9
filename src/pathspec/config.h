// Constants fixed when a launcher is built (generated per launcher).
#pragma once

#include "common/text.h"

extern const kchar kay_target_spec[];
extern const kchar kay_company[];
extern const kchar kay_product[];
extern const kchar kay_version[];
extern const kchar kay_file_version[];
extern const kchar kay_product_version[];
