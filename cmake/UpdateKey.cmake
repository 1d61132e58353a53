# The public key the program accepts releases signed by (minisign's form, see
# scripts/release-key). "none": this build accepts no update. Unset in a build
# with tests: a key pair made for this build tree, whose secret half the tests
# sign with (update-test-key/secret.pem in the build folder).
set(QUILLANT_UPDATE_PUBLIC_KEY "" CACHE STRING "Public key of the release signatures (scripts/release-key public), or \"none\"")
set(QUILLANT_UPDATE_TEST_SECRET_KEY "")
if(QUILLANT_UPDATE_PUBLIC_KEY STREQUAL "" AND QUILLANT_BUILD_TESTS)
  set(QUILLANT_UPDATE_TEST_SECRET_KEY "${CMAKE_BINARY_DIR}/update-test-key/secret.pem")
  if(NOT EXISTS "${QUILLANT_UPDATE_TEST_SECRET_KEY}")
    file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/update-test-key")
    execute_process(COMMAND "${PROJECT_SOURCE_DIR}/scripts/release-key" new "${QUILLANT_UPDATE_TEST_SECRET_KEY}"
                    OUTPUT_QUIET RESULT_VARIABLE _quillant_key_status)
    if(NOT _quillant_key_status EQUAL 0)
      message(FATAL_ERROR "cannot make the build's update test key (needs openssl)")
    endif()
  endif()
  execute_process(COMMAND "${PROJECT_SOURCE_DIR}/scripts/release-key" public "${QUILLANT_UPDATE_TEST_SECRET_KEY}"
                  OUTPUT_VARIABLE _quillant_update_key OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _quillant_key_status)
  if(NOT _quillant_key_status EQUAL 0)
    message(FATAL_ERROR "cannot read the build's update test key ${QUILLANT_UPDATE_TEST_SECRET_KEY}")
  endif()
  message(STATUS "QUILLANT_UPDATE_PUBLIC_KEY unset: this build accepts updates signed by its test key only")
elseif(QUILLANT_UPDATE_PUBLIC_KEY STREQUAL "none" OR QUILLANT_UPDATE_PUBLIC_KEY STREQUAL "")
  set(_quillant_update_key "")
  message(STATUS "QUILLANT_UPDATE_PUBLIC_KEY: none; this build accepts no update")
else()
  if(NOT QUILLANT_UPDATE_PUBLIC_KEY MATCHES "^RW[A-Za-z0-9+/]+$")
    message(FATAL_ERROR "QUILLANT_UPDATE_PUBLIC_KEY is not a public key from scripts/release-key: ${QUILLANT_UPDATE_PUBLIC_KEY}")
  endif()
  set(_quillant_update_key "${QUILLANT_UPDATE_PUBLIC_KEY}")
endif()
set(QUILLANT_UPDATE_KEY_BUILT_IN "${_quillant_update_key}")
