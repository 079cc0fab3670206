# cmake/FmxTesting.cmake: running programs against emulated device nodes (umockdev).
#
# The top-level CMakeLists.txt includes this file, so every folder can use what it sets.
# Programs reach the emulated nodes of a umockdev test bed only when umockdev's preload
# library is loaded into them (LD_PRELOAD, set before the process starts). This is true for
# a test that hosts the test bed itself and for every program that fmxsim runs.
#
# Variables
#   FMX_UMOCKDEV_PRELOAD
#       The full path of the preload library for this build's architecture:
#       /usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0 in build/native and
#       build/sanitize, /usr/lib/i386-linux-gnu/libumockdev-preload.so.0 in build/i386
#       (scripts/install-deps.sh puts it there). Configuring fails if it is missing or is
#       of the wrong architecture, unless FMX_BUILD_TESTS is OFF (the variable is then
#       empty). Use it to check for the file or to name it in messages.
#   FMX_UMOCKDEV_PRELOAD_NAME
#       "libumockdev-preload.so.0": the value to put in LD_PRELOAD. This is the same name
#       that umockdev-wrapper uses. The dynamic loader of each process looks it up in that
#       process's own library path, which finds the right file for 64-bit and for 32-bit
#       programs, and for a 64-bit program started by a 32-bit one (and the reverse).
#       A 32-bit program runs inside the 64-bit qemu-i386 (binfmt_misc). If LD_PRELOAD held
#       the full i386 path, qemu-i386's own loader would print "ERROR: ld.so: object ...
#       cannot be preloaded (wrong ELF class)" on stderr, and tests that check stderr
#       would fail in the i386 build only. fmxsim should set LD_PRELOAD for its COMMAND
#       the same way: the name put in front of any LD_PRELOAD value that is already there.
#   FMX_UMOCKDEV_TEST_PROPERTIES
#       Test property/value pairs for a test that needs the preload library:
#         ENVIRONMENT "LD_PRELOAD=libumockdev-preload.so.0"
#       plus, in a sanitizer build (FMX_SANITIZE), an ENVIRONMENT_MODIFICATION that adds
#       verify_asan_link_order=0 to ASAN_OPTIONS. AddressSanitizer refuses to start when a
#       preloaded library comes before its runtime, and this option lets it start.
#       Each property has one value, so the pairs can also be passed to
#       gtest_discover_tests(), which splits list values.
#
# Function
#   fmx_umockdev_tests(<test> ...)
#       Sets FMX_UMOCKDEV_TEST_PROPERTIES on tests already added with add_test().
#
# Examples
#   add_test(NAME sim.smoke COMMAND fmxsim -- $<TARGET_FILE:sasburn> -l)
#   fmx_umockdev_tests(sim.smoke)
#
#   gtest_discover_tests(ctllib_tests PROPERTIES ${FMX_UMOCKDEV_TEST_PROPERTIES})
#
# A test started by fmxsim does not need these properties when fmxsim itself sets
# LD_PRELOAD for its COMMAND. Setting them anyway does no harm: the library is loaded
# once, and fmxsim (which hosts the test bed) runs with it as well.

include_guard(GLOBAL)

set(FMX_UMOCKDEV_PRELOAD_NAME "libumockdev-preload.so.0")

if(FMX_BUILD_TESTS OR NOT DEFINED FMX_BUILD_TESTS)
  find_library(FMX_UMOCKDEV_PRELOAD NAMES ${FMX_UMOCKDEV_PRELOAD_NAME}
    DOC "umockdev's preload library for this build's architecture")
  if(NOT FMX_UMOCKDEV_PRELOAD)
    message(FATAL_ERROR
      "umockdev's preload library (${FMX_UMOCKDEV_PRELOAD_NAME}) for "
      "${CMAKE_LIBRARY_ARCHITECTURE} was not found: run scripts/install-deps.sh")
  endif()
  # The ELF class (byte 4 of the header) must match the build: 1 for 32-bit, 2 for 64-bit.
  file(READ "${FMX_UMOCKDEV_PRELOAD}" _fmx_elf_class OFFSET 4 LIMIT 1 HEX)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_fmx_want_class 01)
  else()
    set(_fmx_want_class 02)
  endif()
  if(NOT _fmx_elf_class STREQUAL _fmx_want_class)
    message(FATAL_ERROR
      "${FMX_UMOCKDEV_PRELOAD} does not fit a ${CMAKE_SIZEOF_VOID_P}-byte-pointer build "
      "(ELF class ${_fmx_elf_class}). Delete FMX_UMOCKDEV_PRELOAD from the cache and "
      "run scripts/install-deps.sh")
  endif()
  unset(_fmx_elf_class)
  unset(_fmx_want_class)
  message(STATUS "umockdev preload library: ${FMX_UMOCKDEV_PRELOAD}")
else()
  set(FMX_UMOCKDEV_PRELOAD "")
endif()

set(FMX_UMOCKDEV_TEST_PROPERTIES ENVIRONMENT "LD_PRELOAD=${FMX_UMOCKDEV_PRELOAD_NAME}")
if(FMX_SANITIZE)
  list(APPEND FMX_UMOCKDEV_TEST_PROPERTIES
    ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::verify_asan_link_order=0")
endif()

function(fmx_umockdev_tests)
  if(ARGN)
    set_tests_properties(${ARGN} PROPERTIES ${FMX_UMOCKDEV_TEST_PROPERTIES})
  endif()
endfunction()
