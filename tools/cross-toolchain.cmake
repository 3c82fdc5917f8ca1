# Cross-compiling for another Debian architecture: Debian's cross compilers, the headers and
# libraries of a sysroot unpacked from that architecture's packages (tools/foreign_sysroot.sh),
# and qemu-user to run what the build must run there (the target's Python, asked by FindPython).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=tools/cross-toolchain.cmake \
#         -DNORVIK_CROSS_TRIPLE=aarch64-linux-gnu -DNORVIK_SYSROOT=/abs/path/to/root ...

# The test projects of try_compile and check_ipo_supported read this file again with a cache of
# their own: they find both settings in the environment of this CMake process.
foreach(setting NORVIK_CROSS_TRIPLE NORVIK_SYSROOT)
  if(${setting})
    set(ENV{${setting}} "${${setting}}")
  elseif(DEFINED ENV{${setting}})
    set(${setting} "$ENV{${setting}}")
  else()
    message(FATAL_ERROR "cross-toolchain.cmake: set ${setting}")
  endif()
endforeach()
if(NOT IS_ABSOLUTE "${NORVIK_SYSROOT}")
  message(FATAL_ERROR "cross-toolchain.cmake: NORVIK_SYSROOT must be an absolute path")
endif()

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${NORVIK_CROSS_TRIPLE}")
set(CMAKE_CXX_COMPILER ${NORVIK_CROSS_TRIPLE}-g++)
set(CMAKE_SYSROOT "${NORVIK_SYSROOT}")
# Debian keeps libraries in multiarch directories (usr/lib/aarch64-linux-gnu).
set(CMAKE_LIBRARY_ARCHITECTURE ${NORVIK_CROSS_TRIPLE})

# Libraries, headers and packages only from the sysroot; build tools only from this machine.
set(CMAKE_FIND_ROOT_PATH "${NORVIK_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sandbox may lack binfmt_misc, so the emulator is named, never left to the kernel. -L makes
# the target's dynamic loader and libraries come from the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L "${NORVIK_SYSROOT}")
