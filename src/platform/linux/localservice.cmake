# Starting the local corrector on demand and provisioning its key.
target_sources(quillant_platform_linux PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LocalServiceProcess.cpp)
target_link_libraries(quillant_platform_linux PUBLIC quillant_credentials)
