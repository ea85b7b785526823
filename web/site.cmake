# The static site in build-web/site: index.html, the engine as tolvane.js
# and tolvane.wasm, and the sample world packaged as tolvane.data, which the
# page mounts as its working folder. Any static file server can serve it.

set(TOLVANE_SITE_DIR ${CMAKE_BINARY_DIR}/site)
file(GLOB TOLVANE_SAMPLE_WORLD CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/assets/*)

add_executable(tolvane_page web/main.cpp)
target_link_libraries(tolvane_page PRIVATE tolvane_web tolvane_warnings)
# EM_ASM's inline JavaScript names its arguments $0, $1, ...
# (after the warning flags, which a source's own options follow).
set_source_files_properties(web/main.cpp PROPERTIES COMPILE_OPTIONS -Wno-dollar-in-identifier-extension)
set_target_properties(tolvane_page PROPERTIES
  OUTPUT_NAME tolvane
  SUFFIX .js
  RUNTIME_OUTPUT_DIRECTORY ${TOLVANE_SITE_DIR}
  LINK_DEPENDS "${TOLVANE_SAMPLE_WORLD}")
target_link_options(tolvane_page PRIVATE
  -sENVIRONMENT=web
  -sALLOW_MEMORY_GROWTH=1
  --preload-file ${PROJECT_SOURCE_DIR}/assets@/)

configure_file(${PROJECT_SOURCE_DIR}/web/index.html ${TOLVANE_SITE_DIR}/index.html COPYONLY)
