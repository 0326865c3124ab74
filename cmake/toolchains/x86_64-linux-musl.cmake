# 64-bit Linux on musl, with zig's clang, its musl and its libc++ (zig c++,
# from the ziglang package on PyPI, which scripts/test-musl.sh installs into
# the project's venv). The zig to use comes from the environment variable
# MARQUILL_ZIG, which reaches the projects CMake configures for its own
# checks too. Programs are linked statically, so they run natively on any
# x86-64 Linux, whatever its C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(zig "$ENV{MARQUILL_ZIG}")
if(NOT zig)
  message(FATAL_ERROR "set MARQUILL_ZIG to the zig executable (scripts/test-musl.sh does)")
endif()
set(CMAKE_C_COMPILER ${zig} cc -target x86_64-linux-musl)
set(CMAKE_CXX_COMPILER ${zig} c++ -target x86_64-linux-musl)
# CMAKE_AR takes no arguments; the archive rules spell out zig's ar instead
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "${zig} ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "${zig} ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "${zig} ranlib <TARGET>")
endforeach()

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
