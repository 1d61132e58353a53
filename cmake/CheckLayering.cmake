# The rule of the house, checked from the #include lines: the portable code
# includes neither Qt, nor X11/xcb, nor Linux-only headers, nor anything under
# src/platform/. Run as `cmake -DSOURCE_DIR=<tree> -P CheckLayering.cmake`;
# it lists every offending line and fails when there is one.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<source tree> -P CheckLayering.cmake")
endif()

# The portable folders, every file of them. Only the program (desktop/), the
# face (ui/) and platform/ itself may reach the platform.
set(portable runtime text clipboard hotkey backend credentials app)

# What portable code must not include, with the reason shown.
set(forbidden
  "^Q[A-Za-z]*$|Qt"                       # Qt: <QObject>, <QtCore/...>
  "^Qt[A-Za-z]*/|^qt[a-z]*\\.h$|Qt"
  "^X11/|X11"
  "^xcb/|xcb"
  "^xkbcommon/|xkbcommon"
  "^(systemd|linux)/|a Linux-only header"
  "^sys/(signalfd|timerfd|inotify|epoll|eventfd|fanotify|prctl|syscall|sysinfo|pidfd)\\.h$|a Linux-only header"
  "^(glib|gio|dbus)[^/]*/|a desktop-bus header"
  "^platform/|the platform layer")

set(problems "")
set(checked 0)
foreach(dir IN LISTS portable)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/src/${dir}")
    message(FATAL_ERROR "portable folder src/${dir} is missing")
  endif()
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/${dir}/*")
  foreach(file IN LISTS files)
    if(NOT file MATCHES "\\.(h|hpp|cpp|cc|in)$")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${SOURCE_DIR}/src/${file}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
        continue()
      endif()
      set(header "${CMAKE_MATCH_1}")
      foreach(rule IN LISTS forbidden)
        string(REPLACE "|" ";" parts "${rule}")
        list(POP_BACK parts why)
        list(JOIN parts "|" pattern)
        if(header MATCHES "${pattern}")
          string(APPEND problems "  src/${file}: #include ${header} (${why})\n")
          break()
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no portable source files found under ${SOURCE_DIR}/src")
endif()
if(problems)
  message(FATAL_ERROR "portable code includes what only src/platform/, src/ui/ and the program in src/desktop/ may:\n${problems}"
                      "Declare an interface beside the code that needs it and realise it under src/platform/<os>/.")
endif()
message(STATUS "layering: ${checked} portable files include nothing platform-specific")
