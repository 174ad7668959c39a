# Reports over the scan record: one page drawn with cairo as PNG or PDF (and
# on the printer's context in the window), and one self-contained HTML file.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELMO_CAIRO REQUIRED IMPORTED_TARGET cairo cairo-pdf libpng)

add_library(velmo_report STATIC
  ${CMAKE_CURRENT_LIST_DIR}/paper_size.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_content.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_file_name.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_html.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_page.cpp
)
target_include_directories(velmo_report PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(velmo_report PUBLIC velmo_core PkgConfig::VELMO_CAIRO)
