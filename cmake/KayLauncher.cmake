# kay_add_launcher(<name>
#     PAYLOAD <file> | APP_DIR <dir> MAIN <relative path of the main program>
#     [TARGET_SPEC <spec>] [COMPANY <text>] [PRODUCT <text>] [VERSION <text>]
#     [FILE_VERSION <text>] [PRODUCT_VERSION <text>] [OUTPUT_NAME <name>]
#     [DESCRIPTION <text>] [ICON <file.ico>]
#     [PACK_ARGS <kay-pack create options>...] [DEPENDS <targets or files>...])
#
# Builds a launcher executable that carries the payload in its read-only
# data. With APP_DIR the payload is written at build time by `kay-pack create`.
# Windows launchers also get a version resource made from the constants
# (and the icon, when given), so the file's properties show them.

set(_KAY_LAUNCHER_DIR ${CMAKE_CURRENT_LIST_DIR})

# Text as a resource-script string: quotes doubled, backslashes escaped.
function(_kay_rc_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\"\"" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# "1.2.3.4" (or fewer parts, or text after the numbers) as "1,2,3,4".
function(_kay_rc_version out value)
  string(REGEX MATCHALL "[0-9]+" parts "${value}")
  list(LENGTH parts n)
  while(n LESS 4)
    list(APPEND parts 0)
    math(EXPR n "${n} + 1")
  endwhile()
  list(SUBLIST parts 0 4 parts)
  list(JOIN parts "," joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

# The version resource of a Windows launcher.
function(_kay_version_resource dir name)
  cmake_parse_arguments(PARSE_ARGV 2 R "" "COMPANY;PRODUCT;FILE_VERSION;PRODUCT_VERSION;DESCRIPTION;ICON;FILENAME" "")
  _kay_rc_version(rc_file_version_num "${R_FILE_VERSION}")
  _kay_rc_version(rc_product_version_num "${R_PRODUCT_VERSION}")
  foreach(key COMPANY PRODUCT FILE_VERSION PRODUCT_VERSION DESCRIPTION FILENAME)
    string(TOLOWER "${key}" lower)
    _kay_rc_string(rc_${lower} "${R_${key}}")
  endforeach()
  set(rc_icon "")
  if(R_ICON)
    get_filename_component(icon "${R_ICON}" ABSOLUTE)
    _kay_rc_string(rc_icon_file "${icon}")
    set(rc_icon "1 ICON ${rc_icon_file}")
  endif()
  file(CONFIGURE OUTPUT "${dir}/version.rc" @ONLY CONTENT [[
#pragma code_page(65001)
#include <winver.h>
@rc_icon@
1 VERSIONINFO
FILEVERSION @rc_file_version_num@
PRODUCTVERSION @rc_product_version_num@
FILEFLAGSMASK 0x3fL
FILEFLAGS 0x0L
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
FILESUBTYPE 0x0L
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", @rc_company@
      VALUE "FileDescription", @rc_description@
      VALUE "FileVersion", @rc_file_version@
      VALUE "InternalName", @rc_filename@
      VALUE "OriginalFilename", @rc_filename@
      VALUE "ProductName", @rc_product@
      VALUE "ProductVersion", @rc_product_version@
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
]])
endfunction()

# Text as a C string literal of the launcher's native character type.
function(_kay_c_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  if(WIN32)
    set(${out} "L\"${value}\"" PARENT_SCOPE)
  else()
    set(${out} "\"${value}\"" PARENT_SCOPE)
  endif()
endfunction()

function(kay_add_launcher name)
  cmake_parse_arguments(PARSE_ARGV 1 K ""
    "PAYLOAD;APP_DIR;MAIN;TARGET_SPEC;COMPANY;PRODUCT;VERSION;FILE_VERSION;PRODUCT_VERSION;OUTPUT_NAME;DESCRIPTION;ICON"
    "DEPENDS;PACK_ARGS")
  if(WIN32)
    set(_spec "{CACHE_DIR}\\Dorvan\\Velmora\\{VERSION}")
  else()
    set(_spec "{CACHE_DIR}/Dorvan/Velmora/{VERSION}")
  endif()
  foreach(pair "TARGET_SPEC;${_spec}" "COMPANY;Dorvan" "PRODUCT;Velmora Classic"
               "VERSION;1.0.0.0" "FILE_VERSION;1.0.0.0" "PRODUCT_VERSION;1.0.0.0")
    list(GET pair 0 key)
    list(GET pair 1 default)
    if(NOT DEFINED K_${key})
      set(K_${key} "${default}")
    endif()
  endforeach()

  set(dir "${CMAKE_CURRENT_BINARY_DIR}/kay_launchers/${name}")
  file(MAKE_DIRECTORY "${dir}")

  if(K_APP_DIR)
    if(NOT K_MAIN)
      message(FATAL_ERROR "kay_add_launcher(${name}): APP_DIR needs MAIN")
    endif()
    if(TARGET kay-pack)
      set(pack "$<TARGET_FILE:kay-pack>")
      set(pack_dep kay-pack)
    elseif(KAY_PACK_EXECUTABLE)
      set(pack "${KAY_PACK_EXECUTABLE}")
      set(pack_dep "${KAY_PACK_EXECUTABLE}")
    else()
      find_program(KAY_PACK_FOUND kay-pack REQUIRED)
      set(pack "${KAY_PACK_FOUND}")
      set(pack_dep "${KAY_PACK_FOUND}")
    endif()
    get_filename_component(app_dir "${K_APP_DIR}" ABSOLUTE)
    file(GLOB_RECURSE app_files CONFIGURE_DEPENDS "${app_dir}/*")
    set(payload "${dir}/payload.kay")
    add_custom_command(OUTPUT "${payload}"
      COMMAND "${pack}" create "${app_dir}" --main "${K_MAIN}" -o "${payload}" --quiet ${K_PACK_ARGS}
      DEPENDS ${pack_dep} ${app_files} ${K_DEPENDS}
      COMMENT "Packing ${app_dir} for ${name}"
      VERBATIM)
  elseif(K_PAYLOAD)
    get_filename_component(payload "${K_PAYLOAD}" ABSOLUTE)
  else()
    message(FATAL_ERROR "kay_add_launcher(${name}): give PAYLOAD or APP_DIR and MAIN")
  endif()
  add_custom_target(${name}_payload DEPENDS "${payload}" ${K_DEPENDS})

  # The payload goes into read-only data by the assembler's binary include,
  # so payloads of any size cost the compiler nothing.
  file(CONFIGURE OUTPUT "${dir}/payload.S" @ONLY CONTENT [[
#if defined(_WIN32)
    .section .rdata,"dr"
#else
    .section .rodata
#endif
    .globl kay_payload_data
    .globl kay_payload_size
    .balign 16
kay_payload_data:
    .incbin "@payload@"
kay_payload_end:
    .balign 4
kay_payload_size:
    .long kay_payload_end - kay_payload_data
#if !defined(_WIN32)
    .section .note.GNU-stack,"",@progbits
#endif
]])
  set_source_files_properties("${dir}/payload.S" PROPERTIES OBJECT_DEPENDS "${payload}")

  _kay_c_string(c_spec "${K_TARGET_SPEC}")
  _kay_c_string(c_company "${K_COMPANY}")
  _kay_c_string(c_product "${K_PRODUCT}")
  _kay_c_string(c_version "${K_VERSION}")
  _kay_c_string(c_file_version "${K_FILE_VERSION}")
  _kay_c_string(c_product_version "${K_PRODUCT_VERSION}")
  file(CONFIGURE OUTPUT "${dir}/config.cpp" @ONLY CONTENT [[
// Generated by kay_add_launcher: this launcher's build-time constants.
#include "pathspec/config.h"

const kchar kay_target_spec[] = @c_spec@;
const kchar kay_company[] = @c_company@;
const kchar kay_product[] = @c_product@;
const kchar kay_version[] = @c_version@;
const kchar kay_file_version[] = @c_file_version@;
const kchar kay_product_version[] = @c_product_version@;
]])

  set(extra_sources "")
  if(WIN32)
    if(NOT DEFINED K_DESCRIPTION)
      set(K_DESCRIPTION "${K_PRODUCT}")
    endif()
    if(K_OUTPUT_NAME)
      set(file_name "${K_OUTPUT_NAME}.exe")
    else()
      set(file_name "${name}.exe")
    endif()
    _kay_version_resource("${dir}" "${name}" COMPANY "${K_COMPANY}" PRODUCT "${K_PRODUCT}"
      FILE_VERSION "${K_FILE_VERSION}" PRODUCT_VERSION "${K_PRODUCT_VERSION}"
      DESCRIPTION "${K_DESCRIPTION}" ICON "${K_ICON}" FILENAME "${file_name}")
    list(APPEND extra_sources "${dir}/version.rc")
    if(K_ICON)
      get_filename_component(icon "${K_ICON}" ABSOLUTE)
      set_source_files_properties("${dir}/version.rc" PROPERTIES OBJECT_DEPENDS "${icon}")
    endif()
  endif()
  add_executable(${name} "${dir}/payload.S" "${dir}/config.cpp" ${extra_sources} $<TARGET_OBJECTS:kay_entry>)
  target_link_libraries(${name} PRIVATE kay_core)
  add_dependencies(${name} ${name}_payload)
  if(K_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME "${K_OUTPUT_NAME}")
  endif()
endfunction()
