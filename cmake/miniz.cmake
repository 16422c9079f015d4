# miniz, fetched by tools/setup.sh and compiled here, for both builds.

# tools/setup.sh applies the project's mends (tools/patches/miniz.patch) to the
# fetched source; a cache from before them must be set up again.
file(STRINGS "${PROJECT_SOURCE_DIR}/tools/patches/miniz.patch" miniz_mends REGEX "^\\+ */\\* varnox: ")
list(TRANSFORM miniz_mends REPLACE "^\\+" "")
file(STRINGS "${VARNOX_THIRD_PARTY}/miniz/miniz.c" miniz_applied REGEX "/\\* varnox: ")
file(STRINGS "${VARNOX_THIRD_PARTY}/miniz/miniz.h" miniz_applied_header REGEX "/\\* varnox: ")
list(APPEND miniz_applied ${miniz_applied_header})
if(NOT miniz_mends OR NOT miniz_mends STREQUAL miniz_applied)
  message(FATAL_ERROR "miniz in ${VARNOX_THIRD_PARTY} lacks the project's patch: run tools/setup.sh")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VARNOX_THIRD_PARTY}/miniz/miniz.c"
                                                              "${VARNOX_THIRD_PARTY}/miniz/miniz.h"
                                                              "${PROJECT_SOURCE_DIR}/tools/patches/miniz.patch")

set(VARNOX_MINIZ_SOURCE "${VARNOX_THIRD_PARTY}/miniz/miniz.c")
add_library(miniz STATIC "${VARNOX_MINIZ_SOURCE}")
target_include_directories(miniz SYSTEM PUBLIC "${VARNOX_THIRD_PARTY}/miniz")
# The zip code holds the local-header signature: as immediates outside the
# function sections (and never in vector constant pools in .rdata) it lands
# near the start of the image, below the offset where the payload scan starts
# to look. The build checks the image afterwards.
target_compile_options(miniz PRIVATE -w -fno-function-sections -fno-data-sections
                                     -fno-tree-vectorize -fno-tree-slp-vectorize)
