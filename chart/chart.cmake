find_package(PkgConfig REQUIRED)
pkg_check_modules(VELMO_FREETYPE REQUIRED IMPORTED_TARGET freetype2 fontconfig)

# The chart's model and raster, no window: part of velmo_core.
add_library(velmo_chart STATIC
  surface.cpp
  raster_dc.cpp
  label_font.cpp
  graph_model.cpp
)
target_include_directories(velmo_chart PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(velmo_chart
  PUBLIC Threads::Threads
  PRIVATE PkgConfig::VELMO_FREETYPE)
target_link_libraries(velmo_core INTERFACE velmo_chart)

# The chart window for the GUI.
if(VELMO_BUILD_GUI)
  find_package(wxWidgets REQUIRED COMPONENTS core base)
  add_library(velmo_chart_wx STATIC graph_ctrl.cpp)
  target_include_directories(velmo_chart_wx SYSTEM PUBLIC ${wxWidgets_INCLUDE_DIRS})
  target_compile_definitions(velmo_chart_wx PUBLIC ${wxWidgets_DEFINITIONS})
  target_compile_options(velmo_chart_wx PUBLIC ${wxWidgets_CXX_FLAGS})
  target_link_libraries(velmo_chart_wx PUBLIC velmo_chart ${wxWidgets_LIBRARIES})
endif()
