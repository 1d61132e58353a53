target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/PosixProcess.cpp)
target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FolderExchange.cpp)
