# SPDX-License-Identifier: MIT
# Cross build for 32-bit big-endian SPARC with the 64-bit cross compiler's
# 32-bit mode; the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR sparc)
set(CMAKE_CXX_COMPILER sparc64-linux-gnu-g++)
set(CMAKE_CXX_FLAGS_INIT -m32)
# The executable asks for its loader as /lib/ld-linux.so.2, and qemu looks
# that up under the folder given to -L: make one whose lib is the cross
# tools' 32-bit library folder.
set(root "${CMAKE_BINARY_DIR}/sparc32-root")
file(MAKE_DIRECTORY "${root}")
file(CREATE_LINK /usr/sparc64-linux-gnu/lib32 "${root}/lib" SYMBOLIC)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-sparc32plus -L "${root}")
