# The X11 clipboard: the selection protocol spoken over xcb, without Qt.
# A prefix of its own: another fragment asking pkg-config for a different xcb set
# under the same prefix would overwrite this imported target.
pkg_check_modules(X11CLIPBOARD_XCB REQUIRED IMPORTED_TARGET xcb xcb-xfixes)

add_library(quillant_x11_clipboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/x11/SelectionPolicy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/X11Clipboard.cpp
)
target_include_directories(quillant_x11_clipboard PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quillant_x11_clipboard PUBLIC quillant_clipboard quillant_runtime quillant_text PRIVATE PkgConfig::X11CLIPBOARD_XCB)

# Shows the current owner's targets with their exact sizes.
add_executable(quillant-clipboard-probe ${CMAKE_CURRENT_LIST_DIR}/x11/ClipboardProbe.cpp)
target_link_libraries(quillant-clipboard-probe PRIVATE quillant_x11_clipboard)
