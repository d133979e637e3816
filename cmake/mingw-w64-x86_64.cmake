# Cross-builds the Windows programs with mingw-w64 (posix threads, so std::thread and std::mutex
# work) on Linux. tools/build-windows.sh passes MODBUS_BRIDGE_WINDOWS_PREFIX, the folder where it
# built jsoncpp and GoogleTest, and MODBUS_BRIDGE_WINE, the wrapper that runs a .exe under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Both are needed again inside try-compile projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
    MODBUS_BRIDGE_WINDOWS_PREFIX MODBUS_BRIDGE_WINE)

# CMake re-roots CMAKE_PREFIX_PATH under the find root, so the dependencies' prefix is a root of
# its own beside the compiler's.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(MODBUS_BRIDGE_WINDOWS_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${MODBUS_BRIDGE_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and test discovery run the .exe files under wine.
if(MODBUS_BRIDGE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${MODBUS_BRIDGE_WINE})
endif()

# Every program stands alone: no mingw runtime DLL beside it, only the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
