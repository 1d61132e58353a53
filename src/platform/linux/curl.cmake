# The HTTP session over libcurl (Debian's OpenSSL flavour). No Qt, no X11.
find_package(CURL REQUIRED)
target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CurlHttpSession.cpp)
target_link_libraries(quillant_platform_linux PUBLIC quillant_backend PRIVATE CURL::libcurl)
