# Test launchers, assembled the same way for Linux and (in the cross build)
# for Windows: the probe program, payloads written by tools/make_payloads.py,
# and one launcher per payload case.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(kay-probe ${CMAKE_CURRENT_LIST_DIR}/probe/probe.cpp)
if(WIN32)
  target_link_libraries(kay-probe PRIVATE shell32)
  target_link_options(kay-probe PRIVATE -static -static-libgcc -static-libstdc++)
  # The same probe as a GUI program, and what finds the GUI launcher's
  # windows by title.
  add_executable(kay-probe-gui ${CMAKE_CURRENT_LIST_DIR}/probe/probe.cpp)
  target_link_libraries(kay-probe-gui PRIVATE shell32)
  target_link_options(kay-probe-gui PRIVATE -mwindows -static -static-libgcc -static-libstdc++)
  add_executable(kay-find-window ${CMAKE_CURRENT_LIST_DIR}/probe/find_window.cpp)
  target_link_options(kay-find-window PRIVATE -municode -static -static-libgcc -static-libstdc++)
endif()

# The payload cases that need a real process (the reader and the unpacking
# of single entries are unit-tested over the same kinds of input).
set(KAY_TEST_CASES basic badmagic_lower badmagic_kax empty_stream big_window traversal absolute drive
  empty_part trailing_sep device deep deep_tree other_main flipped)
# Child launch: a payload slow to unpack, to interrupt the launcher.
list(APPEND KAY_TEST_CASES slow_unpack)
set(payload_dir "${CMAKE_CURRENT_BINARY_DIR}/payloads")
set(payload_files "")
foreach(case IN LISTS KAY_TEST_CASES)
  list(APPEND payload_files "${payload_dir}/${case}.kay")
endforeach()
set(probe_name "probe${CMAKE_EXECUTABLE_SUFFIX}")
add_custom_command(OUTPUT ${payload_files} "${payload_dir}/deep_name.txt"
  COMMAND Python3::Interpreter "${CMAKE_CURRENT_LIST_DIR}/tools/make_payloads.py"
          "${payload_dir}" "$<TARGET_FILE:kay-probe>" "${probe_name}"
  DEPENDS kay-probe "${CMAKE_CURRENT_LIST_DIR}/tools/make_payloads.py"
  COMMENT "Writing test payloads"
  VERBATIM)

if(WIN32)
  set(sep "\\")
else()
  set(sep "/")
endif()

# Most launchers unpack beside themselves, so each test gets its own target
# directory by copying the launcher into a scratch folder.
foreach(case IN LISTS KAY_TEST_CASES)
  kay_add_launcher(t_${case} PAYLOAD "${payload_dir}/${case}.kay"
    TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked")
endforeach()

# Relative target directory: resolved against the current directory, so a
# test chooses the full path length by where it starts the launcher.
kay_add_launcher(t_relative PAYLOAD "${payload_dir}/deep.kay" TARGET_SPEC "t")
# The default specification, in the user's cache folder.
kay_add_launcher(t_default PAYLOAD "${payload_dir}/basic.kay")
# Generated values in the target directory name.
kay_add_launcher(t_generated PAYLOAD "${payload_dir}/basic.kay"
  TARGET_SPEC "{PROGRAM_DIR}${sep}g${sep}{RANDOM}-{TIME}-{TIME_US}-{PID}")
# Expansion edge cases, each its own launcher.
kay_add_launcher(t_spec_nosuch PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}{NOSUCH}")
kay_add_launcher(t_spec_tokens PAYLOAD "${payload_dir}/basic.kay"
  TARGET_SPEC "{PROGRAM_DIR}${sep}{temp}{Temp}${sep}abc{X{VERSION}{COMPANY}-{PRODUCT}-{FILE_VERSION}-{PRODUCT_VERSION}${sep}x{VERSION"
  COMPANY "Acme" PRODUCT "Road Runner" VERSION "2.5" FILE_VERSION "2.5.1" PRODUCT_VERSION "2.6")
kay_add_launcher(t_spec_program PAYLOAD "${payload_dir}/basic.kay"
  TARGET_SPEC "{PROGRAM_BASE}.d${sep}{PID}" OUTPUT_NAME "tool")
# 4095 and 4096 literal characters: the first expands, the second cannot.
string(REPEAT "a" 4094 a4094)
kay_add_launcher(t_spec_4095 PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "${sep}${a4094}")
kay_add_launcher(t_spec_4096 PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "${sep}${a4094}a")

# Windows: a reader of version resources, and a launcher with an icon.
if(WIN32)
  add_executable(verinfo ${CMAKE_CURRENT_LIST_DIR}/probe/verinfo.cpp)
  target_link_libraries(verinfo PRIVATE version)
  target_link_options(verinfo PRIVATE -municode -static -static-libgcc -static-libstdc++)
  kay_add_launcher(t_icon PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked"
    ICON "${CMAKE_CURRENT_LIST_DIR}/probe/kay.ico" DESCRIPTION "Icon test launcher")
endif()

# Windows helpers for the child tests: a program that prints a child's full
# 32-bit exit code, and one that runs the console event handler of the core
# against a real child process.
if(WIN32)
  add_executable(kay-run-exit ${CMAKE_CURRENT_LIST_DIR}/probe/run_exit.cpp)
  target_link_options(kay-run-exit PRIVATE -municode -static -static-libgcc -static-libstdc++)
  add_executable(kay-handler-check ${CMAKE_CURRENT_LIST_DIR}/probe/handler_check.cpp ${KAY_TEST_CONSTANTS})
  target_link_libraries(kay-handler-check PRIVATE kay_core)
endif()

# Hardening. Launchers whose system calls fail on request (KAY_FAULT, see
# src/platform/fault_inject.cpp), assembled onto a prebuilt program with
# fault injection compiled in, and launchers for many started at once:
# the checker program verifies its siblings against a manifest.
kay_prebuilt_launcher(kay-prebuilt-fault "kay-launcher-${KAY_LAUNCHER_TARGET}-fault"
  ${PROJECT_SOURCE_DIR}/src/platform/fault_inject.cpp)
target_compile_definitions(kay-prebuilt-fault PRIVATE KAY_FAULT_INJECTION)
kay_add_launcher(t_fault PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked"
  PREBUILT kay-prebuilt-fault)
kay_add_launcher(t_fault_content PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked"
  PREBUILT kay-prebuilt-fault CHECK content)
# Versions of one product side by side in cache/, one that keeps every
# version, and another product: old versions removed.
foreach(v IN ITEMS 1 2 3 4 5 9)
  set(product Versions)
  set(keep 2)
  if(v EQUAL 5)
    set(keep all)
  elseif(v EQUAL 9)
    set(product Other)
  endif()
  kay_add_launcher(t_v${v} PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}cache${sep}{VERSION}"
    PRODUCT ${product} VERSION ${v} KEEP_VERSIONS ${keep} PREBUILT kay-prebuilt-fault)
endforeach()
# The GUI kind with fault injection, whose writes KAY_SLOW_WRITE_MS slows
# down: its message boxes and its progress window.
if(WIN32)
  kay_prebuilt_launcher(kay-prebuilt-fault-gui "kay-launcher-${KAY_LAUNCHER_TARGET}-fault-gui" GUI
    ${PROJECT_SOURCE_DIR}/src/platform/fault_inject.cpp)
  target_compile_definitions(kay-prebuilt-fault-gui PRIVATE KAY_FAULT_INJECTION)
  kay_add_launcher(t_gui PAYLOAD "${payload_dir}/basic.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked"
    PRODUCT "Slow Test" PREBUILT kay-prebuilt-fault-gui SUBSYSTEM windows)
endif()

add_executable(kay-checker ${CMAKE_CURRENT_LIST_DIR}/probe/checker.cpp)
if(WIN32)
  target_link_options(kay-checker PRIVATE -static -static-libgcc -static-libstdc++)
endif()
add_custom_command(OUTPUT "${payload_dir}/crowd.kay"
  COMMAND Python3::Interpreter "${CMAKE_CURRENT_LIST_DIR}/tools/make_payloads.py" --crowd
          "${payload_dir}" "$<TARGET_FILE:kay-checker>" "checker${CMAKE_EXECUTABLE_SUFFIX}"
  DEPENDS kay-checker "${CMAKE_CURRENT_LIST_DIR}/tools/make_payloads.py"
  COMMENT "Writing the crowd payload"
  VERBATIM)
kay_add_launcher(t_crowd PAYLOAD "${payload_dir}/crowd.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked")
# The same with fault injection compiled in, so KAY_NO_LOCK=1 can show what
# happens without the lock.
kay_add_launcher(t_crowd_fault PAYLOAD "${payload_dir}/crowd.kay" TARGET_SPEC "{PROGRAM_DIR}${sep}unpacked"
  PREBUILT kay-prebuilt-fault)
