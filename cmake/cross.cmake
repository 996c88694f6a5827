# SPDX-License-Identifier: MIT
# A build for the Debian architecture SEPQUOTE_ARCH (arm64, armhf, i386, ...)
# with Debian's cross compiler: static against musl with SEPQUOTE_STATIC,
# else dynamic against glibc.  Its line of pkg/linux.machines names the
# tests' emulator where ARCH is not the host's, the CPUs they run on again,
# and where musl comes from.  CMake reads it again for each test compile.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SEPQUOTE_ARCH SEPQUOTE_STATIC SEPQUOTE_MUSL_ROOT)

# dpkg-architecture warns that the host's C compiler is not for ARCH, which
# it need not be; what it says goes with a failure alone.
execute_process(COMMAND dpkg-architecture -a "${SEPQUOTE_ARCH}" -l
  OUTPUT_VARIABLE arch ERROR_VARIABLE said RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "dpkg-architecture -a '${SEPQUOTE_ARCH}' failed: ${said}")
endif()
foreach(var HOST_GNU_TYPE HOST_GNU_CPU HOST_ARCH BUILD_ARCH)
  string(REGEX MATCH "DEB_${var}=([^\n]*)" _ "${arch}")
  set(${var} "${CMAKE_MATCH_1}")
endforeach()
foreach(column qemu cpus musl)
  execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../pkg/lib.sh" machine ${column} arch "${SEPQUOTE_ARCH}"
    OUTPUT_VARIABLE ${column} ERROR_VARIABLE said RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${said}")
  endif()
endforeach()
string(REPLACE "," ";" SEPQUOTE_QEMU_CPUS "${cpus}")
list(REMOVE_ITEM SEPQUOTE_QEMU_CPUS -)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR "${HOST_GNU_CPU}")
# Named here, since CMake finds the cross tools' strip from the name of a
# C++ compiler only, and the host's strip fails quietly on another machine.
set(CMAKE_STRIP "${HOST_GNU_TYPE}-strip")
if(SEPQUOTE_STATIC)
  # gcc compiles C++ too and, unlike g++, does not link the C++ library,
  # built against glibc.  musl-dev:ARCH ships the file of rules pointing it
  # at musl's headers, start files and library, in a folder whose name does
  # not follow from the architecture's (mips64el-linux-musl, not -muslabi64).
  # Where Debian has none, musl is built, once, in the build folder.
  if(musl STREQUAL "source")
    if(NOT SEPQUOTE_MUSL_ROOT)
      set(SEPQUOTE_MUSL_ROOT "${CMAKE_BINARY_DIR}/musl")
    endif()
    set(rules "${SEPQUOTE_MUSL_ROOT}/lib/musl-gcc.specs")
    if(NOT EXISTS "${rules}")
      message(STATUS "Building musl for ${SEPQUOTE_ARCH} from Debian's source")
      execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/musl.sh" "${HOST_GNU_TYPE}" "${SEPQUOTE_MUSL_ROOT}"
        OUTPUT_VARIABLE said ERROR_VARIABLE said RESULT_VARIABLE status)
    endif()
  else()
    execute_process(COMMAND dpkg -L "musl-dev:${SEPQUOTE_ARCH}"
      OUTPUT_VARIABLE files ERROR_VARIABLE said)
    string(REGEX MATCH "[^\n]*/musl-gcc.specs" rules "${files}")
  endif()
  if(NOT EXISTS "${rules}")
    message(FATAL_ERROR "musl for ${SEPQUOTE_ARCH} is missing: install musl-dev:${SEPQUOTE_ARCH}, or where it is built here, musl-dev. ${said}")
  endif()
  set(CMAKE_CXX_COMPILER "${HOST_GNU_TYPE}-gcc")
  set(CMAKE_CXX_FLAGS_INIT "-specs=${rules}")
  set(emulator "${qemu}")
  # musl is linked in, and its licence asks for its notice in every copy.
  set(SEPQUOTE_RUNTIME musl)
  set(SEPQUOTE_RUNTIME_NOTICE /usr/share/doc/musl-dev/copyright)
else()
  # The emulator hands its environment on: the program's loader would object
  # on standard error to a library the host preloads (as faketime), and must
  # find the cross C library: libc6:ARCH of another version smashes its stack.
  set(CMAKE_CXX_COMPILER "${HOST_GNU_TYPE}-g++")
  set(emulator "${qemu}" -U LD_PRELOAD -E LD_LIBRARY_PATH=/lib -L "/usr/${HOST_GNU_TYPE}")
endif()
if(NOT HOST_ARCH STREQUAL BUILD_ARCH)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator})
endif()
