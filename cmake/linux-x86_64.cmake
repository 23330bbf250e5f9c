# Builds the Linux side as native 64-bit (x86-64): varel and the tests at full speed on any
# 64-bit machine. The host records are then laid out for 64-bit pointers; the plug-in's
# contract with its hosts is the 32-bit layout, which linux-i386.cmake builds.
set(CMAKE_C_FLAGS_INIT "-m64")
set(CMAKE_CXX_FLAGS_INIT "-m64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m64")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m64")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m64")
