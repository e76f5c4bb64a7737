# Wine tests that need COM ports: each test program runs inside
# with-com-pairs.sh, which wires pty null-modem pairs into the build tree's
# Wine prefix as COMn for the length of the run.
#
#   include(${PROJECT_SOURCE_DIR}/tools/driver/ComPorts.cmake)
#   bench_wine_com_test(<name>
#       PAIRS "3:13 10:20"          # A:B cables, COM numbers 1..999
#       SOURCES a.cpp b.cpp
#       [LIBS lib...]               # e.g. serial_win32
#       [ARGS arg...]               # passed to the program
#       [DEPENDS target...]         # built first, e.g. Tarnwick (then use
#                                   #   BENCH_TARGET_FILE_<target> below)
#       [TIMEOUT seconds]           # default 300
#       [NO_GTEST_MAIN]             # the sources bring their own main()
#       [SHIM]                      # LD_PRELOAD the pty modem-line shim
#                                   #   (tools/driver/pty_modem_shim.c): WaitCommEvent then
#                                   #   waits for a character as on a real port
#       [PORT23])                   # the program starts Pellfray: the run holds
#                                   #   the machine-wide port-23 lock
#                                   #   (tools/driver/port23-lock.sh)
#
# The program links GoogleTest (and gtest_main unless NO_GTEST_MAIN) and
# com_test_support (tools/driver/com_test_support.h). For every
# DEPENDS target the program gets the compile definition
# BENCH_TARGET_FILE_<target>="Z:/<full Unix path of its .exe>" (Wine's Z:
# drive is the Unix root), ready for CreateProcessA.
#
# COM tests of one build tree never run at the same time (RESOURCE_LOCK and
# the harness's own lock); different build trees have separate prefixes, but
# share the host's TCP port 23, hence PORT23.
include_guard(GLOBAL)

# The pty modem-line shim (tools/driver/pty_modem_shim.c), built with the host's C
# compiler, for tests that pass SHIM.
if(WIN32 AND NOT TARGET bench_pty_shim)
  find_program(BENCH_HOST_CC NAMES cc gcc REQUIRED)
  set(_shim_src ${CMAKE_CURRENT_LIST_DIR}/pty_modem_shim.c)
  set(_shim_out ${CMAKE_BINARY_DIR}/pty-shim/libpty_modem_shim.so)
  add_custom_command(OUTPUT ${_shim_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/pty-shim
    COMMAND ${BENCH_HOST_CC} -shared -fPIC -O2 -Wall -Wextra -o ${_shim_out} ${_shim_src} -ldl
    DEPENDS ${_shim_src}
    COMMENT "Building the host pty modem-line shim"
    VERBATIM)
  add_custom_target(bench_pty_shim DEPENDS ${_shim_out})
endif()

function(bench_wine_com_test name)
  cmake_parse_arguments(T "NO_GTEST_MAIN;SHIM;PORT23" "PAIRS;TIMEOUT" "SOURCES;LIBS;ARGS;DEPENDS" ${ARGN})
  if(NOT WIN32 OR NOT BENCH_TESTS)
    return()
  endif()
  if(NOT T_PAIRS)
    message(FATAL_ERROR "bench_wine_com_test(${name}): PAIRS is required")
  endif()
  if(NOT T_SOURCES)
    message(FATAL_ERROR "bench_wine_com_test(${name}): SOURCES is required")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()

  add_executable(${name} ${T_SOURCES})
  bench_static_exe(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} com_test_support gtest)
  if(NOT T_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE gtest_main)
  endif()
  foreach(dep IN LISTS T_DEPENDS)
    add_dependencies(${name} ${dep})
    target_compile_definitions(${name} PRIVATE "BENCH_TARGET_FILE_${dep}=\"Z:$<TARGET_FILE:${dep}>\"")
  endforeach()

  set(shim_args)
  if(T_SHIM)
    add_dependencies(${name} bench_pty_shim)
    set(shim_args --shim ${CMAKE_BINARY_DIR}/pty-shim/libpty_modem_shim.so)
  endif()

  set(locks bench_wine_com_ports)
  set(port23_args)
  if(T_PORT23)
    list(APPEND locks pellfray_port23)
    set(port23_args --port23)
  endif()

  add_dependencies(bench_wine_tests ${name})
  add_test(NAME ${name}
    COMMAND bash ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/with-com-pairs.sh --build-dir ${CMAKE_BINARY_DIR} ${shim_args}
            ${port23_args} ${T_PAIRS} -- $<TARGET_FILE:${name}> ${T_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} RESOURCE_LOCK "${locks}")
endfunction()
