# The text-fixing service's origin is fixed at build time. "local" (the
# default) is the user's own quillant-service on its private Unix socket in
# $XDG_RUNTIME_DIR/quillant/; otherwise only https is accepted, or plain http
# to a loopback host.
set(QUILLANT_SERVICE_URL "local" CACHE STRING "Base URL of the text-fixing service, or \"local\"")
# Build folders configured before "local" existed carry the old default, which
# any other user of the computer could answer in our service's absence.
if(QUILLANT_SERVICE_URL STREQUAL "http://127.0.0.1:8787")
  message(STATUS "QUILLANT_SERVICE_URL: the old default http://127.0.0.1:8787 is now \"local\" (a private socket)")
  set(QUILLANT_SERVICE_URL "local" CACHE STRING "Base URL of the text-fixing service, or \"local\"" FORCE)
endif()

if(NOT QUILLANT_SERVICE_URL STREQUAL "local")
  string(REGEX MATCH "^(https?)://(\\[[^]]+\\]|[^/:?#]+)(:[0-9]+)?(/.*)?$" _quillant_url_ok "${QUILLANT_SERVICE_URL}")
  if(NOT _quillant_url_ok)
    message(FATAL_ERROR "QUILLANT_SERVICE_URL is not a URL (nor \"local\"): ${QUILLANT_SERVICE_URL}")
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
endif()
