# The text-fixing service's origin is fixed at build time. Only https is
# accepted, except plain http to a loopback host for a local service.
set(QUILLANT_SERVICE_URL "http://127.0.0.1:8787" CACHE STRING "Base URL of the text-fixing service")

string(REGEX MATCH "^(https?)://(\\[[^]]+\\]|[^/:?#]+)(:[0-9]+)?(/.*)?$" _quillant_url_ok "${QUILLANT_SERVICE_URL}")
if(NOT _quillant_url_ok)
  message(FATAL_ERROR "QUILLANT_SERVICE_URL is not a URL: ${QUILLANT_SERVICE_URL}")
endif()
set(_quillant_scheme "${CMAKE_MATCH_1}")
string(TOLOWER "${CMAKE_MATCH_2}" _quillant_host)
if(_quillant_scheme STREQUAL "http")
  if(NOT (_quillant_host MATCHES "^127\\.[0-9]+\\.[0-9]+\\.[0-9]+$"
          OR _quillant_host STREQUAL "localhost"
          OR _quillant_host STREQUAL "[::1]"))
    message(FATAL_ERROR "QUILLANT_SERVICE_URL must use https (http only to a loopback host): ${QUILLANT_SERVICE_URL}")
  endif()
endif()
