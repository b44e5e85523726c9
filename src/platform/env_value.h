// Environment variables by narrow ASCII name, shared by path expansion and
// the hand-over to the child. Names are widened at every use.
#pragma once

#include "platform/platform.h"

// Heap copy of a variable's value; nullptr when unset or empty.
kchar* get_env_value(const char* name);
// Sets `name` to `value`, or removes it when value is null.
void set_env_value(const char* name, const kchar* value);
