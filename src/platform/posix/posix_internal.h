// Declarations shared by the POSIX backend's files.
#pragma once

#include "platform/platform.h"

namespace kay_posix {
extern int g_argc;
extern char** g_argv;
// Signal that ended the child, 0 when it exited normally.
extern int g_child_signal;

void set_dll_directory_empty();
std::uint32_t get_env(const char* name, char* out, std::uint32_t capacity);
int set_env(const char* name, const char* value);
std::uint32_t current_pid();
std::uint32_t module_path(char* out, std::uint32_t capacity);
std::uint32_t temp_path(char* out, std::uint32_t capacity);
bool user_folder(kay_folder which, char* out, std::uint32_t capacity);
std::uint32_t full_path(const char* in, char* out, std::uint32_t capacity);
std::uint64_t perf_counter();
std::uint64_t system_time();

kay_file open_read(const char* path);
std::uint32_t file_size(kay_file file);
kay_mapping map_file(kay_file file, std::uint32_t size);
const void* map_view(kay_mapping mapping);
void unmap_view(const void* view, std::uint32_t size);
void close_mapping(kay_mapping mapping);
kay_file open_write(const char* path);
void mark_executable(kay_file file, bool executable);
bool write_file(kay_file file, const void* data, std::uint32_t size);
void close_file(kay_file file);
kay_mkdir_result create_directory(const char* path);
std::uint32_t last_error();
std::uint32_t error_text(std::uint32_t code, char* out, std::uint32_t capacity);

bool register_console_handler(kay_console_handler handler);
char** command_line_args(int* count);
bool start_process(const char* program, char* command_line, char* const* argv, kay_process* process);
kay_wait_result wait_process(kay_process process, std::uint32_t timeout_ms);
bool exit_code(kay_process process, std::uint32_t* code);
void terminate_process(kay_process process, std::uint32_t code);
void close_process(kay_process process);
void forward_event(kay_process process, std::uint32_t event);
kay_lock lock_target(const char* dir);
void unlock_target(kay_lock lock);
}  // namespace kay_posix
