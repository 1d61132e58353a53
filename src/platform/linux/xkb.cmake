# Which keys press a chord in an XKB keymap (xkbcommon only): for the Wayland
# virtual keyboard and the desktop portal's keyboard alike.
pkg_check_modules(XKB_KEYMAP REQUIRED IMPORTED_TARGET xkbcommon)
add_library(quillant_chord_keymap STATIC ${CMAKE_CURRENT_LIST_DIR}/ChordKeymap.cpp)
target_include_directories(quillant_chord_keymap PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quillant_chord_keymap PUBLIC PkgConfig::XKB_KEYMAP)
