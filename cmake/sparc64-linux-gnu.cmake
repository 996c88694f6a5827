# SPDX-License-Identifier: MIT
# Cross build for 64-bit big-endian SPARC; the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR sparc64)
set(CMAKE_CXX_COMPILER sparc64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-sparc64 -L /usr/sparc64-linux-gnu)
