# Mbed TLS for NTS, built once per machine, architecture and configuration
# from the Debian source package that scripts/mbedtls-source.sh fetched
# into the cache (HORAVEX_CACHE_DIR, else ~/.cache/horavex), with this
# project's configuration header (cmake/mbedtls/config.h) and toolchain.
# The build lies in the cache beside the source, named by the version,
# the architecture and the header's hash, so that a fresh clone on the
# same machine does not build it again.  HORAVEX_MBEDTLS_DIR names an
# installed Mbed TLS 3.6 (include/, lib/) to use instead, as a Windows
# developer would.  Defines the target horavex_mbedtls and
# HORAVEX_MBEDTLS_LICENSE, the licence text the installer ships.

set(HORAVEX_MBEDTLS_CONFIG ${PROJECT_SOURCE_DIR}/cmake/mbedtls/config.h)
set(HORAVEX_MBEDTLS_DIR "" CACHE PATH "An installed Mbed TLS 3.6 to use instead of the cached build")

if(DEFINED ENV{HORAVEX_CACHE_DIR})
  set(horavex_cache $ENV{HORAVEX_CACHE_DIR})
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(horavex_cache $ENV{XDG_CACHE_HOME}/horavex)
else()
  set(horavex_cache $ENV{HOME}/.cache/horavex)
endif()

if(HORAVEX_MBEDTLS_DIR)
  set(mbedtls_install ${HORAVEX_MBEDTLS_DIR})
  set(HORAVEX_MBEDTLS_LICENSE ${HORAVEX_MBEDTLS_DIR}/LICENSE)
else()
  file(GLOB mbedtls_sources LIST_DIRECTORIES true ${horavex_cache}/mbedtls-*/source)
  if(NOT mbedtls_sources)
    message(FATAL_ERROR "No Mbed TLS source in ${horavex_cache}: run scripts/deps.sh "
                        "(or give -DHORAVEX_MBEDTLS_DIR=...)")
  endif()
  list(SORT mbedtls_sources COMPARE NATURAL ORDER DESCENDING)
  list(GET mbedtls_sources 0 mbedtls_source)
  get_filename_component(mbedtls_home ${mbedtls_source} DIRECTORY)
  file(SHA256 ${HORAVEX_MBEDTLS_CONFIG} config_hash)
  string(SUBSTRING ${config_hash} 0 12 config_hash)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(mbedtls_arch x86_64)
  else()
    set(mbedtls_arch i686)
  endif()
  set(mbedtls_install ${mbedtls_home}/${mbedtls_arch}-${config_hash})
  set(HORAVEX_MBEDTLS_LICENSE ${mbedtls_source}/LICENSE)

  if(NOT EXISTS ${mbedtls_install}/lib/libmbedtls.a)
    message(STATUS "Building Mbed TLS (${mbedtls_arch}) into ${mbedtls_install}")
    set(mbedtls_build ${mbedtls_install}.build)
    file(REMOVE_RECURSE ${mbedtls_build} ${mbedtls_install}.part)
    set(toolchain "")
    if(CMAKE_TOOLCHAIN_FILE)
      get_filename_component(toolchain_file ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE
                             BASE_DIR ${PROJECT_SOURCE_DIR})
      set(toolchain -DCMAKE_TOOLCHAIN_FILE=${toolchain_file})
    endif()
    # MinGW keeps every function that has unwind information: without it
    # the linker drops what the program never calls.
    set(mbedtls_flags "")
    if(NOT MSVC)
      set(mbedtls_flags "-fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections")
    endif()
    execute_process(
      COMMAND ${CMAKE_COMMAND} -S ${mbedtls_source} -B ${mbedtls_build} -G ${CMAKE_GENERATOR}
              ${toolchain} -DCMAKE_BUILD_TYPE=MinSizeRel -DENABLE_PROGRAMS=OFF
              -DENABLE_TESTING=OFF -DGEN_FILES=OFF -DUSE_SHARED_MBEDTLS_LIBRARY=OFF
              -DMBEDTLS_CONFIG_FILE=${HORAVEX_MBEDTLS_CONFIG}
              -DCMAKE_C_FLAGS=${mbedtls_flags}
              -DCMAKE_INSTALL_PREFIX=${mbedtls_install}.part
      OUTPUT_QUIET RESULT_VARIABLE failed)
    if(NOT failed)
      include(ProcessorCount)
      ProcessorCount(cores)
      execute_process(COMMAND ${CMAKE_COMMAND} --build ${mbedtls_build} --parallel ${cores}
                      OUTPUT_QUIET RESULT_VARIABLE failed)
    endif()
    if(NOT failed)
      execute_process(COMMAND ${CMAKE_COMMAND} --install ${mbedtls_build}
                      OUTPUT_QUIET RESULT_VARIABLE failed)
    endif()
    if(failed)
      message(FATAL_ERROR "Mbed TLS did not build: see ${mbedtls_build}")
    endif()
    file(RENAME ${mbedtls_install}.part ${mbedtls_install})
    file(REMOVE_RECURSE ${mbedtls_build})
  endif()
endif()

add_library(horavex_mbedtls INTERFACE)
# Its headers trip the program's own warnings (-Wundef): they are the
# system's to it.
target_include_directories(horavex_mbedtls SYSTEM INTERFACE ${mbedtls_install}/include)
target_compile_definitions(horavex_mbedtls INTERFACE
                           MBEDTLS_CONFIG_FILE="${HORAVEX_MBEDTLS_CONFIG}")
target_link_libraries(horavex_mbedtls INTERFACE
  ${mbedtls_install}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}mbedtls${CMAKE_STATIC_LIBRARY_SUFFIX}
  ${mbedtls_install}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}mbedx509${CMAKE_STATIC_LIBRARY_SUFFIX}
  ${mbedtls_install}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}mbedcrypto${CMAKE_STATIC_LIBRARY_SUFFIX}
  bcrypt)
