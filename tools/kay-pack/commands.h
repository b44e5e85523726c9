// The subcommands; each takes the whole argv (argv[1] is its name) and
// returns the exit code.
#pragma once

int run_create(int argc, char** argv);
int run_list(int argc, char** argv);
int run_verify(int argc, char** argv);
int run_extract(int argc, char** argv);
int run_build(int argc, char** argv);
int run_assemble(int argc, char** argv);
