# zstd and zlib for the launcher.
#
# Native builds use the system's libraries. Cross builds for Windows compile
# zstd's decoder from Debian's zstd sources (scripts/install-deps fetches
# them) and take zlib from the MinGW sysroot.

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(KAY_ZSTD_SOURCE_DIR "/usr/local/src/kay-zstd" CACHE PATH "zstd source tree")
  if(NOT EXISTS "${KAY_ZSTD_SOURCE_DIR}/lib/zstd.h")
    message(FATAL_ERROR "zstd sources not found in ${KAY_ZSTD_SOURCE_DIR}; run scripts/install-deps")
  endif()
  file(GLOB _kay_zstd_sources
    "${KAY_ZSTD_SOURCE_DIR}/lib/common/*.c"
    "${KAY_ZSTD_SOURCE_DIR}/lib/decompress/*.c")
  add_library(kay_zstd STATIC ${_kay_zstd_sources})
  target_include_directories(kay_zstd SYSTEM PUBLIC "${KAY_ZSTD_SOURCE_DIR}/lib")
  target_compile_definitions(kay_zstd PRIVATE ZSTD_DISABLE_ASM=1 ZSTD_LEGACY_SUPPORT=0
    ZSTD_NO_TRACE=1 DEBUGLEVEL=0)
  target_compile_options(kay_zstd PRIVATE -O2)
  add_library(kay::zstd ALIAS kay_zstd)

  find_library(KAY_ZLIB_LIBRARY NAMES libz.a z REQUIRED)
  find_path(KAY_ZLIB_INCLUDE zlib.h REQUIRED)
  add_library(kay_zlib INTERFACE)
  target_link_libraries(kay_zlib INTERFACE "${KAY_ZLIB_LIBRARY}")
  target_include_directories(kay_zlib SYSTEM INTERFACE "${KAY_ZLIB_INCLUDE}")
  add_library(kay::zlib ALIAS kay_zlib)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KAY_ZSTD REQUIRED IMPORTED_TARGET libzstd)
  add_library(kay::zstd ALIAS PkgConfig::KAY_ZSTD)
  find_package(ZLIB REQUIRED)
  add_library(kay::zlib ALIAS ZLIB::ZLIB)
endif()
