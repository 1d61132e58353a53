# The Qt desktop pieces: the main-thread executor on Qt's event loop and the
# local key-down monitor.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(quillant_qt_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/qt/QtExecutor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt/QtKeyDownMonitor.cpp
)
target_include_directories(quillant_qt_desktop PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quillant_qt_desktop PUBLIC quillant_runtime quillant_platform_linux quillant_hotkey quillant_x11_desktop Qt6::Widgets)
