# Cross-compiles the same sources as a 64-bit Windows program. Kurrelfix.exe
# is the 32-bit build; this one exists only so that the Wine scenarios can run
# on a machine whose kernel cannot execute 32-bit programs (and so cannot run
# 32-bit Wine): there they run this build under 64-bit Wine instead.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
