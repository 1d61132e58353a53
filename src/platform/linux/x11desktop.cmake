# The X11 desktop pieces over xcb: keysym table, XTest keystrokes, global
# hotkeys as key grabs, the XTest gate; and the journal logger.
pkg_check_modules(X11DESKTOP_XCB REQUIRED IMPORTED_TARGET xcb xcb-xtest xcb-xkb xkbcommon xkbcommon-x11)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
# A click anywhere, heard without a grab (XInput 2 raw events).
pkg_check_modules(X11DESKTOP_XI REQUIRED IMPORTED_TARGET x11 xi)

add_library(quillant_x11_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/x11/Keymap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/KeysymTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/XTestKeyEventPoster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/X11HotKeyService.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/XTestAccessibilityGate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/X11FocusInspector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/X11ClickWatcher.cpp
)
target_include_directories(quillant_x11_desktop PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quillant_x11_desktop PUBLIC quillant_clipboard quillant_hotkey quillant_runtime
  PkgConfig::X11DESKTOP_XCB PkgConfig::X11DESKTOP_XI)

target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/JournalLogger.cpp)
target_link_libraries(quillant_platform_linux PRIVATE PkgConfig::SYSTEMD)
