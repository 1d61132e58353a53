# The desktop portal's clients over QtDBus: the request/response pattern and
# sessions, global shortcuts, the remote-desktop keyboard, our application id.
find_package(Qt6 REQUIRED COMPONENTS DBus)
pkg_check_modules(PORTAL_XKB REQUIRED IMPORTED_TARGET xkbcommon)

add_library(quillant_portal STATIC
  ${CMAKE_CURRENT_LIST_DIR}/portal/PortalRequest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portal/PortalKeyboardMap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portal/PortalApplicationId.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portal/GlobalShortcutsHotKeyService.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portal/ShortcutFallbackHotKeyService.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portal/RemoteDesktopKeyEventPoster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/portal/PortalDesktop.cpp
)
set_target_properties(quillant_portal PROPERTIES AUTOMOC ON)
target_include_directories(quillant_portal PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quillant_portal PUBLIC quillant_clipboard quillant_hotkey quillant_runtime quillant_x11_desktop
  quillant_chord_keymap Qt6::DBus PkgConfig::PORTAL_XKB)
