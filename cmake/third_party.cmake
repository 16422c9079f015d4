# Third-party code fetched by tools/setup.sh, compiled here for the target.

if(NOT EXISTS "${VARNOX_THIRD_PARTY}/miniz/miniz.c"
   OR NOT EXISTS "${VARNOX_THIRD_PARTY}/boost-filesystem/src/operations.cpp")
  message(FATAL_ERROR "Third-party sources missing in ${VARNOX_THIRD_PARTY}: run tools/setup.sh")
endif()

# Boost's headers come from the build machine's libboost-dev; only the boost/
# folder is exposed, never the rest of /usr/include.
set(VARNOX_BOOST_INCLUDE "${CMAKE_BINARY_DIR}/boost-include")
if(NOT EXISTS "${VARNOX_BOOST_INCLUDE}/boost")
  file(MAKE_DIRECTORY "${VARNOX_BOOST_INCLUDE}")
  file(CREATE_LINK /usr/include/boost "${VARNOX_BOOST_INCLUDE}/boost" SYMBOLIC)
endif()

add_library(boost_headers INTERFACE)
target_include_directories(boost_headers SYSTEM INTERFACE "${VARNOX_BOOST_INCLUDE}")
target_compile_definitions(boost_headers INTERFACE BOOST_ALL_NO_LIB BOOST_FILESYSTEM_STATIC_LINK
                                                   BOOST_FILESYSTEM_NO_DEPRECATED)

file(GLOB boost_filesystem_sources "${VARNOX_THIRD_PARTY}/boost-filesystem/src/*.cpp")
add_library(boost_filesystem STATIC ${boost_filesystem_sources})
target_link_libraries(boost_filesystem PUBLIC boost_headers)
target_compile_options(boost_filesystem PRIVATE -w)
target_link_libraries(boost_filesystem PRIVATE advapi32)

include("${CMAKE_CURRENT_LIST_DIR}/miniz.cmake")
