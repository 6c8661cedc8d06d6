# BLAKE3: a system library where one exists, else the reference C sources
# installed by the distribution (Debian's librust-blake3-dev puts them under
# /usr/share/cargo/registry/blake3-<version>/c). Nothing is vendored.
add_library(mivo_blake3 INTERFACE)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBBLAKE3 QUIET IMPORTED_TARGET libblake3)
endif()

if(LIBBLAKE3_FOUND)
  message(STATUS "BLAKE3: system library ${LIBBLAKE3_VERSION}")
  target_link_libraries(mivo_blake3 INTERFACE PkgConfig::LIBBLAKE3)
  return()
endif()

if(NOT BLAKE3_C_SOURCE_DIR)
  file(GLOB _blake3_candidates LIST_DIRECTORIES true
    /usr/share/cargo/registry/blake3-*/c)
  list(SORT _blake3_candidates COMPARE NATURAL ORDER DESCENDING)
  foreach(_dir IN LISTS _blake3_candidates)
    if(EXISTS "${_dir}/blake3.h" AND EXISTS "${_dir}/blake3.c")
      set(_found "${_dir}")
      break()
    endif()
  endforeach()
  set(BLAKE3_C_SOURCE_DIR "${_found}" CACHE PATH "Directory of the BLAKE3 reference C sources")
endif()

if(NOT BLAKE3_C_SOURCE_DIR OR NOT EXISTS "${BLAKE3_C_SOURCE_DIR}/blake3.h")
  message(FATAL_ERROR
    "BLAKE3 not found. Install a BLAKE3 C library with pkg-config support "
    "(libblake3-dev), or on Debian 12 'apt-get install librust-blake3-dev' "
    "for the reference C sources, or pass -DBLAKE3_C_SOURCE_DIR=<dir>.")
endif()
message(STATUS "BLAKE3: reference C sources in ${BLAKE3_C_SOURCE_DIR}")

set(_b3 "${BLAKE3_C_SOURCE_DIR}")
set(_b3_sources ${_b3}/blake3.c ${_b3}/blake3_dispatch.c ${_b3}/blake3_portable.c)
set(_b3_defs "")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND NOT WIN32)
  enable_language(ASM)
  list(APPEND _b3_sources
    ${_b3}/blake3_sse2_x86-64_unix.S ${_b3}/blake3_sse41_x86-64_unix.S
    ${_b3}/blake3_avx2_x86-64_unix.S ${_b3}/blake3_avx512_x86-64_unix.S)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  list(APPEND _b3_sources ${_b3}/blake3_neon.c)
  list(APPEND _b3_defs BLAKE3_USE_NEON=1)
else()
  list(APPEND _b3_defs BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()
add_library(mivo_blake3_impl STATIC ${_b3_sources})
target_include_directories(mivo_blake3_impl PUBLIC ${_b3})
target_compile_definitions(mivo_blake3_impl PRIVATE ${_b3_defs})
set_target_properties(mivo_blake3_impl PROPERTIES POSITION_INDEPENDENT_CODE ON C_VISIBILITY_PRESET hidden)
target_link_libraries(mivo_blake3 INTERFACE mivo_blake3_impl)
