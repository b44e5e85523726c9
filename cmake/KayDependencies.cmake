# zstd and libdeflate for kay-pack (kay::zstd, kay::deflate) and the
# launcher (kay::zstd_static, kay::deflate_static); natively also zlib
# (kay::zlib), for the tests that check libdeflate's CRC-32 against it.
#
# Native builds use the system's libraries (the launcher their static
# archives). Cross builds (Windows, arm64 Linux) compile zstd's decoder and
# libdeflate's CRC-32 from Debian's sources (scripts/install-deps fetches
# them).

if(CMAKE_CROSSCOMPILING)
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
  add_library(kay::zstd_static ALIAS kay_zstd)

  set(KAY_DEFLATE_SOURCE_DIR "/usr/local/src/kay-libdeflate" CACHE PATH "libdeflate source tree")
  if(NOT EXISTS "${KAY_DEFLATE_SOURCE_DIR}/libdeflate.h")
    message(FATAL_ERROR "libdeflate sources not found in ${KAY_DEFLATE_SOURCE_DIR}; run scripts/install-deps")
  endif()
  # Only the CRC-32, with its processor feature detection (each file compiles
  # to nothing on processors it is not for).
  add_library(kay_deflate STATIC
    "${KAY_DEFLATE_SOURCE_DIR}/lib/crc32.c"
    "${KAY_DEFLATE_SOURCE_DIR}/lib/x86/cpu_features.c"
    "${KAY_DEFLATE_SOURCE_DIR}/lib/arm/cpu_features.c")
  target_include_directories(kay_deflate SYSTEM PUBLIC "${KAY_DEFLATE_SOURCE_DIR}")
  target_compile_options(kay_deflate PRIVATE -O2)
  add_library(kay::deflate ALIAS kay_deflate)
  add_library(kay::deflate_static ALIAS kay_deflate)
else()
  find_package(PkgConfig REQUIRED)
  find_package(Threads REQUIRED)
  foreach(lib zstd deflate)
    string(TOUPPER "${lib}" upper)
    pkg_check_modules(KAY_${upper} REQUIRED IMPORTED_TARGET lib${lib})
    add_library(kay::${lib} ALIAS PkgConfig::KAY_${upper})
    # The static archive for the launcher, which then needs nothing but the
    # C library where it runs (Debian's libzstd.a has no worker threads,
    # which only kay-pack uses).
    find_library(KAY_${upper}_ARCHIVE NAMES lib${lib}.a HINTS ${KAY_${upper}_LIBRARY_DIRS} REQUIRED)
    add_library(kay_${lib}_archive INTERFACE)
    target_include_directories(kay_${lib}_archive SYSTEM INTERFACE ${KAY_${upper}_INCLUDE_DIRS})
    target_link_libraries(kay_${lib}_archive INTERFACE "${KAY_${upper}_ARCHIVE}" Threads::Threads)
    add_library(kay::${lib}_static ALIAS kay_${lib}_archive)
  endforeach()
  find_package(ZLIB REQUIRED)
  add_library(kay::zlib ALIAS ZLIB::ZLIB)
endif()
