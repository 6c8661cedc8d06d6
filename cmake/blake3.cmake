# BLAKE3, in this order of preference; nothing is vendored:
#
# 1. BLAKE3_C_SOURCE_DIR=<dir>: the reference C sources in <dir> (blake3.h, blake3.c, ...).
# 2. An installed C library: CMake's BLAKE3 package (the reference CMake build
#    installs one; Homebrew, conda-forge) or pkg-config's libblake3 (Fedora,
#    Debian 13 and others).
# 3. The reference C sources that Debian's librust-blake3-dev installs under
#    /usr/share/cargo/registry/blake3-<version>/c.
# 4. FetchContent of the pinned BLAKE3 release archive below (checked by its
#    SHA-256). FETCHCONTENT_SOURCE_DIR_BLAKE3=<dir> uses an unpacked copy
#    instead (any BLAKE3 release or crate directory with a c/ subdirectory),
#    and MIVO_BLAKE3_URL=<file or URL> another archive (with MIVO_BLAKE3_SHA256).
#    FETCHCONTENT_SOURCE_DIR_BLAKE3 or MIVO_BLAKE3_FETCH=ON skips steps 1 to 3.
#
# From pip: pip install . -Ccmake.define.FETCHCONTENT_SOURCE_DIR_BLAKE3=/path/to/blake3-1.3.1
#
# MIVO_BLAKE3_PROVIDER (internal cache entry) records which step was taken.
add_library(mivo_blake3 INTERFACE)

# BLAKE3 1.3.1 as its authors released it (the crates.io archive, whose c/
# directory holds the reference C sources). Debian builds librust-blake3-dev
# from this archive; the SHA-256 is the one in Debian's source record, and
# Debian's copies are the further addresses.
set(MIVO_BLAKE3_VERSION 1.3.1)
set(MIVO_BLAKE3_URL
  "https://static.crates.io/crates/blake3/blake3-1.3.1.crate"
  "https://deb.debian.org/debian/pool/main/r/rust-blake3/rust-blake3_1.3.1.orig.tar.gz"
  "https://snapshot.debian.org/file/d6e9c03f75f22a339626f18f2d7843addeea7ca9"
  CACHE STRING "Addresses of the BLAKE3 release archive (tried in turn)")
set(MIVO_BLAKE3_SHA256 a08e53fc5a564bb15bfe6fae56bd71522205f1f91893f9c0116edad6496c183f
  CACHE STRING "SHA-256 of the BLAKE3 release archive")
option(MIVO_BLAKE3_FETCH "Take BLAKE3 from its release archive even if it is installed" OFF)

if(DEFINED FETCHCONTENT_SOURCE_DIR_BLAKE3 OR MIVO_BLAKE3_FETCH)
  set(_blake3_fetch_only ON)
  set(BLAKE3_C_SOURCE_DIR "")  # also over a directory cached by an earlier configure
endif()

function(_mivo_blake3_provider name detail)
  set(MIVO_BLAKE3_PROVIDER "${name}" CACHE INTERNAL "Where BLAKE3 came from")
  message(STATUS "BLAKE3: ${detail}")
endfunction()

if(NOT BLAKE3_C_SOURCE_DIR AND NOT _blake3_fetch_only)
  find_package(BLAKE3 CONFIG QUIET)
  if(TARGET BLAKE3::blake3)
    _mivo_blake3_provider(cmake-package "installed library ${BLAKE3_VERSION} (${BLAKE3_DIR})")
    target_link_libraries(mivo_blake3 INTERFACE BLAKE3::blake3)
    return()
  endif()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(LIBBLAKE3 QUIET IMPORTED_TARGET libblake3)
  endif()
  if(LIBBLAKE3_FOUND)
    _mivo_blake3_provider(pkg-config "installed library ${LIBBLAKE3_VERSION} (pkg-config libblake3)")
    target_link_libraries(mivo_blake3 INTERFACE PkgConfig::LIBBLAKE3)
    return()
  endif()

  file(GLOB _blake3_candidates LIST_DIRECTORIES true /usr/share/cargo/registry/blake3-*/c)
  list(SORT _blake3_candidates COMPARE NATURAL ORDER DESCENDING)
  foreach(_dir IN LISTS _blake3_candidates)
    if(EXISTS "${_dir}/blake3.h" AND EXISTS "${_dir}/blake3.c")
      set(BLAKE3_C_SOURCE_DIR "${_dir}")
      set(_blake3_detail "reference C sources of the distribution in ${_dir}")
      set(_blake3_provider distribution)
      break()
    endif()
  endforeach()
endif()

if(BLAKE3_C_SOURCE_DIR)
  if(NOT _blake3_provider)
    set(_blake3_detail "reference C sources in ${BLAKE3_C_SOURCE_DIR} (BLAKE3_C_SOURCE_DIR)")
    set(_blake3_provider source-dir)
  endif()
else()
  include(FetchContent)
  if(POLICY CMP0135)
    cmake_policy(SET CMP0135 NEW)  # extracted files dated at extraction
  endif()
  # SOURCE_SUBDIR names no directory: the archive is only unpacked, its own
  # build files (if any) are not used.
  FetchContent_Declare(blake3 URL ${MIVO_BLAKE3_URL} URL_HASH SHA256=${MIVO_BLAKE3_SHA256}
    SOURCE_SUBDIR no-cmake-project)
  if(DEFINED FETCHCONTENT_SOURCE_DIR_BLAKE3)
    message(STATUS "BLAKE3: FetchContent, local copy in ${FETCHCONTENT_SOURCE_DIR_BLAKE3}")
  else()
    message(STATUS "BLAKE3: FetchContent of release ${MIVO_BLAKE3_VERSION} (SHA-256 ${MIVO_BLAKE3_SHA256}); "
      "offline, pass -DFETCHCONTENT_SOURCE_DIR_BLAKE3=<unpacked release> or -DMIVO_BLAKE3_URL=<archive>")
  endif()
  FetchContent_MakeAvailable(blake3)
  set(BLAKE3_C_SOURCE_DIR "${blake3_SOURCE_DIR}/c")
  set(_blake3_detail "reference C sources in ${BLAKE3_C_SOURCE_DIR} (FetchContent)")
  set(_blake3_provider fetch)
endif()

if(NOT EXISTS "${BLAKE3_C_SOURCE_DIR}/blake3.h" OR NOT EXISTS "${BLAKE3_C_SOURCE_DIR}/blake3.c")
  message(FATAL_ERROR
    "BLAKE3: no blake3.h and blake3.c in ${BLAKE3_C_SOURCE_DIR}. Point BLAKE3_C_SOURCE_DIR at the c/ "
    "directory of a BLAKE3 release, or FETCHCONTENT_SOURCE_DIR_BLAKE3 at the release itself "
    "(from pip: -Ccmake.define.FETCHCONTENT_SOURCE_DIR_BLAKE3=<dir>).")
endif()
_mivo_blake3_provider(${_blake3_provider} "${_blake3_detail}")

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
