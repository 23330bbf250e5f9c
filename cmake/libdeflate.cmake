# libdeflate, the fast whole-stream zlib decoder of the PSARC walk: natively, Debian's
# package for the build's architecture (libdeflate-dev:i386 or libdeflate-dev:amd64); for
# mingw, the same version's Debian source package, which scripts/setup.sh fetches into
# deps/ and this builds as a static library with its own flags.
set(VAREL_LIBDEFLATE_VERSION 1.14)
if(WIN32)
  set(VAREL_LIBDEFLATE_SOURCE "${CMAKE_SOURCE_DIR}/deps/libdeflate-${VAREL_LIBDEFLATE_VERSION}"
      CACHE PATH "libdeflate's source folder (Debian's source package, unpacked)")
  if(NOT EXISTS "${VAREL_LIBDEFLATE_SOURCE}/libdeflate.h")
    message(FATAL_ERROR
      "libdeflate ${VAREL_LIBDEFLATE_VERSION} source not found in ${VAREL_LIBDEFLATE_SOURCE}. "
      "Run 'bash scripts/setup.sh' (as root) to fetch Debian's source package.")
  endif()
  file(GLOB VAREL_LIBDEFLATE_SOURCES
       "${VAREL_LIBDEFLATE_SOURCE}/lib/*.c" "${VAREL_LIBDEFLATE_SOURCE}/lib/x86/*.c")
  add_library(varel_libdeflate STATIC ${VAREL_LIBDEFLATE_SOURCES})
  target_include_directories(varel_libdeflate SYSTEM PUBLIC "${VAREL_LIBDEFLATE_SOURCE}")
  # The library's own flags (it picks CPU features at run time); its warnings are its own.
  target_compile_options(varel_libdeflate PRIVATE -O2 -fomit-frame-pointer -std=c99 -w)
  set(VAREL_LIBDEFLATE varel_libdeflate)
else()
  find_path(VAREL_LIBDEFLATE_INCLUDE libdeflate.h)
  find_library(VAREL_LIBDEFLATE_LIBRARY NAMES libdeflate.a deflate)
  if(NOT VAREL_LIBDEFLATE_INCLUDE OR NOT VAREL_LIBDEFLATE_LIBRARY)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(VAREL_DEBIAN_ARCH amd64)
    else()
      set(VAREL_DEBIAN_ARCH i386)
    endif()
    message(FATAL_ERROR "libdeflate (${VAREL_DEBIAN_ARCH}) not found. Install Debian's "
                        "libdeflate-dev:${VAREL_DEBIAN_ARCH} (as root: 'bash scripts/setup.sh', "
                        "or apt-get install libdeflate-dev:${VAREL_DEBIAN_ARCH}).")
  endif()
  add_library(varel_libdeflate STATIC IMPORTED)
  set_target_properties(varel_libdeflate PROPERTIES
    IMPORTED_LOCATION "${VAREL_LIBDEFLATE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${VAREL_LIBDEFLATE_INCLUDE}")
  set(VAREL_LIBDEFLATE varel_libdeflate)
endif()
