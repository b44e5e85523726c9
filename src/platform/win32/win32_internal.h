// Declarations shared by the Win32 backend's files.
#pragma once

#include "platform/platform.h"

namespace kay_win32 {
void set_dll_directory_empty();
std::uint32_t get_env(const wchar_t* name, wchar_t* out, std::uint32_t capacity);
int set_env(const wchar_t* name, const wchar_t* value);
std::uint32_t current_pid();
std::uint32_t module_path(wchar_t* out, std::uint32_t capacity);
std::uint32_t temp_path(wchar_t* out, std::uint32_t capacity);
bool user_folder(kay_folder which, wchar_t* out, std::uint32_t capacity);
std::uint32_t full_path(const wchar_t* in, wchar_t* out, std::uint32_t capacity);
std::uint64_t perf_counter();
std::uint64_t system_time();

kay_file open_read(const wchar_t* path);
std::uint32_t file_size(kay_file file);
kay_mapping map_file(kay_file file, std::uint32_t size);
const void* map_view(kay_mapping mapping);
void unmap_view(const void* view, std::uint32_t size);
void close_mapping(kay_mapping mapping);
kay_file open_write(const wchar_t* path);
void mark_executable(kay_file file, bool executable);
bool write_file(kay_file file, const void* data, std::uint32_t size);
void close_file(kay_file file);
kay_mkdir_result create_directory(const wchar_t* path);
std::uint32_t last_error();
std::uint32_t error_text(std::uint32_t code, char* out, std::uint32_t capacity);

bool register_console_handler(kay_console_handler handler);
wchar_t** command_line_args(int* count);
bool start_process(const wchar_t* program, wchar_t* command_line, wchar_t* const* argv,
                   kay_process* process);
kay_wait_result wait_process(kay_process process, std::uint32_t timeout_ms);
bool exit_code(kay_process process, std::uint32_t* code);
void terminate_process(kay_process process, std::uint32_t code);
void close_process(kay_process process);
void forward_event(kay_process process, std::uint32_t event);
kay_lock lock_target(const wchar_t* dir);
void unlock_target(kay_lock lock);
}  // namespace kay_win32
