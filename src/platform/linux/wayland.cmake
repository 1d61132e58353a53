# The Wayland clients (wlroots path): virtual-keyboard keystrokes with keys
# from the compositor's keymap (xkbcommon) and the data-control clipboard;
# and the focused window from sway's IPC.
# Debian ships none of these protocols' XML; ours are in wayland/protocols/.
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)

set(QUILLANT_WAYLAND_PROTOCOLS
  virtual-keyboard-unstable-v1
  wlr-data-control-unstable-v1
  ext-data-control-v1
)
set(QUILLANT_WAYLAND_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${QUILLANT_WAYLAND_GENERATED})
set(QUILLANT_WAYLAND_PROTOCOL_SOURCES)
foreach(protocol IN LISTS QUILLANT_WAYLAND_PROTOCOLS)
  set(xml ${CMAKE_CURRENT_LIST_DIR}/wayland/protocols/${protocol}.xml)
  add_custom_command(
    OUTPUT ${QUILLANT_WAYLAND_GENERATED}/${protocol}-client-protocol.h ${QUILLANT_WAYLAND_GENERATED}/${protocol}-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${QUILLANT_WAYLAND_GENERATED}/${protocol}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${QUILLANT_WAYLAND_GENERATED}/${protocol}-protocol.c
    DEPENDS ${xml}
    VERBATIM)
  list(APPEND QUILLANT_WAYLAND_PROTOCOL_SOURCES
    ${QUILLANT_WAYLAND_GENERATED}/${protocol}-client-protocol.h ${QUILLANT_WAYLAND_GENERATED}/${protocol}-protocol.c)
endforeach()

add_library(quillant_wayland STATIC
  ${QUILLANT_WAYLAND_PROTOCOL_SOURCES}
  ${CMAKE_CURRENT_LIST_DIR}/wayland/WaylandConnection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland/WaylandKeyEventPoster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland/WaylandClipboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland/SwayFocusInspector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland/ClipboardKeeper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wayland/SeatKeymap.cpp
)
target_include_directories(quillant_wayland PUBLIC ${PROJECT_SOURCE_DIR}/src PRIVATE ${QUILLANT_WAYLAND_GENERATED})
target_link_libraries(quillant_wayland PUBLIC quillant_clipboard quillant_hotkey quillant_runtime quillant_text
  quillant_x11_clipboard quillant_chord_keymap PkgConfig::WAYLAND_CLIENT PRIVATE nlohmann_json::nlohmann_json)
