// The environment variables a launcher exchanges with the programs it
// starts, and that path expansion shares with them: named here once, for
// the hand-over to the child and for the tokens that read them.
#pragma once

#define KAY_VAR_PARENT "KOLVEX_ONEFILE_PARENT"
#define KAY_VAR_START "KOLVEX_ONEFILE_START"
#define KAY_VAR_TIME_US "KOLVEX_ONEFILE_TIME_US"
#define KAY_VAR_RANDOM "KOLVEX_ONEFILE_RANDOM"
#define KAY_VAR_DIRECTORY "KOLVEX_ONEFILE_DIRECTORY"
#define KAY_VAR_ORIGINAL_ARGV0 "KOLVEX_ORIGINAL_ARGV0"
