# Cross build for 32-bit Windows with Debian's mingw-w64 toolchain:
#   cmake -S . -B build-win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
# The executable is linked statically (no DLL beside qern.exe). The
# CMakeLists adds -msse2 -mfpmath=sse for this target, so doubles are
# computed as IEEE double on SSE2 and never in the x87 unit's extended
# precision.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QERN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
