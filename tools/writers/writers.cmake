# SPDX-License-Identifier: BSD-3-Clause
# The song, bank and instrument writers shared by the tests, the benchmarks, the fuzz seed writer
# and the build tools. Each user includes this file; the library is defined once.
include_guard(GLOBAL)
file(GLOB trelmo_writer_sources CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tools/writers/*.cpp")
add_library(trelmo_writers STATIC ${trelmo_writer_sources})
target_include_directories(trelmo_writers PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(trelmo_writers PRIVATE trelmo_warnings)
