# The user's private runtime folder, shared by quillant and quillant-service;
# a library of its own so that the service needs nothing else from here.
add_library(quillant_private_runtime_dir STATIC ${CMAKE_CURRENT_LIST_DIR}/PrivateRuntimeDir.cpp)
target_include_directories(quillant_private_runtime_dir PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(quillant_platform_linux PUBLIC quillant_private_runtime_dir)
