# The settings file and the (empty) shortcut lists of the Linux desktop.
find_package(nlohmann_json 3.10 REQUIRED)
target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SettingsFileStore.cpp)
target_link_libraries(quillant_platform_linux PUBLIC quillant_hotkey PRIVATE nlohmann_json::nlohmann_json)
