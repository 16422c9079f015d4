# The native build for Linux, with the host compiler: make_setup over the
# payload scan, the archive reader, the job choice and the client package
# table that install.exe runs, each compiled from the same sources; the
# native tests; and, with clang, the fuzz targets.

if(NOT EXISTS "${VARNOX_THIRD_PARTY}/miniz/miniz.c")
  message(FATAL_ERROR "Third-party sources missing in ${VARNOX_THIRD_PARTY}: run tools/setup.sh")
endif()

add_compile_options(-Wall -Wextra)
# Throw sites record their source file relative to the project.
add_compile_options("-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=")

include(cmake/miniz.cmake)
find_package(Threads REQUIRED)

# Boost.Exception and Boost.Format, header-only, from libboost-dev.
add_library(boost_headers INTERFACE)
target_compile_definitions(boost_headers INTERFACE BOOST_ALL_NO_LIB)

# The portable part of the library and of the setup program, over the POSIX
# file layer and stand-ins.
set(VARNOX_NATIVE_SOURCES
  "${PROJECT_SOURCE_DIR}/includes/varnox/common/archive.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/common/archive_file_common.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/common/archive_file_posix.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/common/exception.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/common/log.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/common/log_posix.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/windows/code_page_posix.cpp"
  "${PROJECT_SOURCE_DIR}/includes/varnox/windows/registry_multi_string.cpp"
  "${PROJECT_SOURCE_DIR}/setup/client_package.cpp"
  "${PROJECT_SOURCE_DIR}/setup/installer_options.cpp"
  "${PROJECT_SOURCE_DIR}/setup/job_choice.cpp"
  "${PROJECT_SOURCE_DIR}/setup/payload_locator.cpp"
  "${PROJECT_SOURCE_DIR}/convert/boot_ini_text.cpp")
set(VARNOX_NATIVE_INCLUDES
  "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/includes" "${PROJECT_SOURCE_DIR}/setup"
  "${PROJECT_SOURCE_DIR}/tools/bundler")
set(VARNOX_BUNDLER_SOURCES
  "${PROJECT_SOURCE_DIR}/tools/bundler/pe_image.cpp"
  "${PROJECT_SOURCE_DIR}/tools/bundler/platform_posix.cpp"
  "${PROJECT_SOURCE_DIR}/tools/bundler/setup_check.cpp")

add_library(varnox_native STATIC ${VARNOX_NATIVE_SOURCES} ${VARNOX_BUNDLER_SOURCES})
target_include_directories(varnox_native PUBLIC ${VARNOX_NATIVE_INCLUDES})
target_link_libraries(varnox_native PUBLIC miniz boost_headers Threads::Threads)

add_executable(make_setup "${PROJECT_SOURCE_DIR}/tools/bundler/make_setup.cpp")
target_link_libraries(make_setup PRIVATE varnox_native)
# Where the Windows builds keep theirs: build/<arch>/tools/bundler.
set_target_properties(make_setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools/bundler")

if(VARNOX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/native)
  add_subdirectory(tests/fuzz)
endif()
