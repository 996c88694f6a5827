# SPDX-License-Identifier: MIT
# A build for Windows on the processor that SEPQUOTE_ARCH names (x86_64,
# i686), with Debian's mingw-w64 cross compiler for it, in its win32
# threads flavour.  The tests run under Wine, through tests/wine.sh.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SEPQUOTE_ARCH)
set(cpu "${SEPQUOTE_ARCH}")
set(triplet "${cpu}-w64-mingw32")

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR "${cpu}")
set(CMAKE_CXX_COMPILER "${triplet}-g++-win32")
set(CMAKE_STRIP "${triplet}-strip")
get_filename_component(wine "${CMAKE_CURRENT_LIST_DIR}/../tests/wine.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR bash "${wine}" "${cpu}")

# mingw-w64's C runtime start-up and helpers are linked into the executable,
# and their licence asks for this notice in every binary copy.
set(SEPQUOTE_RUNTIME mingw-w64)
string(REPLACE "_" "-" package "mingw-w64-${cpu}-dev")
set(SEPQUOTE_RUNTIME_NOTICE "/usr/share/doc/${package}/copyright")
