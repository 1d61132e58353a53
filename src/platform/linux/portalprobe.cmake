# Whether the desktop portal offers an interface (quillant doctor), over sd-bus.
pkg_check_modules(PORTALPROBE_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PortalProbe.cpp)
target_link_libraries(quillant_platform_linux PRIVATE PkgConfig::PORTALPROBE_SYSTEMD)
