# kay_add_launcher(<name>
#     PAYLOAD <file> | APP_DIR <dir> MAIN <relative path of the main program>
#     [TARGET_SPEC <spec>] [COMPANY <text>] [PRODUCT <text>] [VERSION <text>]
#     [FILE_VERSION <text>] [PRODUCT_VERSION <text>] [OUTPUT_NAME <name>]
#     [DESCRIPTION <text>] [ICON <file.ico>]
#     [PACK_ARGS <kay-pack create options>...] [DEPENDS <targets or files>...]
#     [PREBUILT <target or file>])
#
# Writes a launcher at build time without compiling anything: `kay-pack
# assemble` (PAYLOAD) or `kay-pack build` (APP_DIR: packs the folder first)
# puts the payload and the constants onto the prebuilt launcher program of
# the platform being built for (native, win32 or win64). Windows launchers
# also get a version resource made from the constants (and the icon, when
# given). <name> is a target; its KAY_LAUNCHER_FILE property is the
# launcher's path (<binary dir>/<OUTPUT_NAME or name>[.exe]). PREBUILT
# takes another prebuilt program than the platform's.

# The prebuilt program's target name for this platform.
if(NOT WIN32)
  set(_KAY_TARGET native)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_KAY_TARGET win64)
else()
  set(_KAY_TARGET win32)
endif()

function(kay_add_launcher name)
  cmake_parse_arguments(PARSE_ARGV 1 K ""
    "PAYLOAD;APP_DIR;MAIN;TARGET_SPEC;COMPANY;PRODUCT;VERSION;FILE_VERSION;PRODUCT_VERSION;OUTPUT_NAME;DESCRIPTION;ICON;PREBUILT"
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

  # kay-pack runs on the building machine: in a cross build, the native one.
  if(TARGET kay-pack AND NOT CMAKE_CROSSCOMPILING)
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

  # The prebuilt program: the given one, this project's own, or the one
  # installed with the kay package.
  if(NOT K_PREBUILT)
    if(TARGET kay-prebuilt-launcher)
      set(K_PREBUILT kay-prebuilt-launcher)
    else()
      set(K_PREBUILT "${KAY_LAUNCHER_DIR}/kay-launcher-${_KAY_TARGET}${CMAKE_EXECUTABLE_SUFFIX}")
    endif()
  endif()
  if(TARGET ${K_PREBUILT})
    set(prebuilt "$<TARGET_FILE:${K_PREBUILT}>")
  else()
    get_filename_component(prebuilt "${K_PREBUILT}" ABSOLUTE)
  endif()

  if(K_OUTPUT_NAME)
    set(launcher "${CMAKE_CURRENT_BINARY_DIR}/${K_OUTPUT_NAME}${CMAKE_EXECUTABLE_SUFFIX}")
  else()
    set(launcher "${CMAKE_CURRENT_BINARY_DIR}/${name}${CMAKE_EXECUTABLE_SUFFIX}")
  endif()
  # A file named as its target (in the same folder) would clash with the
  # target in the build tool: a stamp file stands for it instead.
  file(RELATIVE_PATH rel "${CMAKE_CURRENT_BINARY_DIR}" "${launcher}")
  if(rel STREQUAL name)
    set(out "${CMAKE_CURRENT_BINARY_DIR}/kay_launchers/${name}.stamp")
    set(stamp COMMAND ${CMAKE_COMMAND} -E touch "${out}")
  else()
    set(out "${launcher}")
    set(stamp "")
  endif()
  set(options -o "${launcher}" --target ${_KAY_TARGET} "--launcher=${prebuilt}"
    "--target-spec=${K_TARGET_SPEC}" "--company=${K_COMPANY}" "--product=${K_PRODUCT}"
    "--version=${K_VERSION}" "--file-version=${K_FILE_VERSION}" "--product-version=${K_PRODUCT_VERSION}" -q)
  set(depends ${pack_dep} ${K_PREBUILT} ${K_DEPENDS})
  if(DEFINED K_DESCRIPTION)
    list(APPEND options "--description=${K_DESCRIPTION}")
  endif()
  if(K_ICON)
    get_filename_component(icon "${K_ICON}" ABSOLUTE)
    list(APPEND options "--icon=${icon}")
    list(APPEND depends "${icon}")
  endif()

  if(K_APP_DIR)
    if(NOT K_MAIN)
      message(FATAL_ERROR "kay_add_launcher(${name}): APP_DIR needs MAIN")
    endif()
    get_filename_component(app_dir "${K_APP_DIR}" ABSOLUTE)
    file(GLOB_RECURSE app_files CONFIGURE_DEPENDS "${app_dir}/*")
    add_custom_command(OUTPUT "${out}"
      COMMAND "${pack}" build "${app_dir}" --main "${K_MAIN}" ${options} ${K_PACK_ARGS}
      ${stamp}
      DEPENDS ${depends} ${app_files}
      COMMENT "Building launcher ${name} for ${app_dir}"
      VERBATIM)
  elseif(K_PAYLOAD)
    get_filename_component(payload "${K_PAYLOAD}" ABSOLUTE)
    add_custom_command(OUTPUT "${out}"
      COMMAND "${pack}" assemble "${payload}" ${options}
      ${stamp}
      DEPENDS ${depends} "${payload}"
      COMMENT "Assembling launcher ${name}"
      VERBATIM)
  else()
    message(FATAL_ERROR "kay_add_launcher(${name}): give PAYLOAD or APP_DIR and MAIN")
  endif()
  add_custom_target(${name} ALL DEPENDS "${out}")
  set_target_properties(${name} PROPERTIES KAY_LAUNCHER_FILE "${launcher}")
endfunction()
