# The layering check on small made-up trees: each kind of violation fails it
# (naming the file), and what the rule allows passes.
# cmake -DCHECK=<CheckLayering.cmake> -DWORK_DIR=<scratch> -P LayeringCases.cmake
set(portable runtime text clipboard hotkey backend credentials app)

# file | the line written into it | whether the check must fail
set(cases
  "clipboard/Broker.h|#include <QObject>|fail"
  "hotkey/Timer.cpp|#include <QtCore/QTimer>|fail"
  "app/Widget.cpp|  #  include <QWidget>|fail"
  "runtime/Display.cpp|#include <X11/Xlib.h>|fail"
  "backend/Conn.cpp|#include <xcb/xcb.h>|fail"
  "hotkey/Layout.cpp|#include <xkbcommon/xkbcommon.h>|fail"
  "runtime/Timer.cpp|#include <sys/timerfd.h>|fail"
  "runtime/Signals.cpp|#include <sys/signalfd.h>|fail"
  "credentials/Watch.cpp|#include <sys/inotify.h>|fail"
  "runtime/Poll.cpp|#include <sys/epoll.h>|fail"
  "runtime/Log.cpp|#include <systemd/sd-journal.h>|fail"
  "text/Input.h|#include <linux/input.h>|fail"
  "credentials/Store.cpp|#include \"platform/linux/RunLoop.h\"|fail"
  "app/Coordinator.cpp|#include \"platform/linux/x11/X11Clipboard.h\"|fail"
  "app/main.cpp|#include <QApplication>|fail"
  "app/DesktopApp.cpp|#include \"platform/linux/qt/QtExecutor.h\"|fail"
  "app/cli/Commands.cpp|#include <sys/signalfd.h>|fail"
  "desktop/main.cpp|#include <QApplication>|pass"
  "desktop/DesktopApp.cpp|#include \"platform/linux/qt/QtExecutor.h\"|pass"
  "desktop/cli/Commands.cpp|#include <sys/signalfd.h>|pass"
  "ui/MenuBarView.cpp|#include <QWidget>|pass"
  "runtime/Files.cpp|#include <sys/stat.h>|pass"
  "clipboard/Pipe.cpp|#include <unistd.h>|pass"
  "service/main.cpp|#include <sys/signalfd.h>|pass"
  "platform/linux/RunLoop.cpp|#include <sys/epoll.h>|pass")

set(failures "")
set(index 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 file)
  list(GET fields 1 line)
  list(GET fields 2 expected)
  math(EXPR index "${index} + 1")
  set(tree "${WORK_DIR}/case${index}")
  file(REMOVE_RECURSE "${tree}")
  foreach(dir IN LISTS portable)
    file(WRITE "${tree}/src/${dir}/Plain.h" "#pragma once\n#include <string>\n#include \"runtime/Task.h\"\n")
  endforeach()
  file(WRITE "${tree}/src/${file}" "// made up\n${line}\nint x;\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${tree} -P "${CHECK}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected STREQUAL "fail")
    if(result EQUAL 0)
      string(APPEND failures "  ${file}: '${line}' was let through\n")
    elseif(NOT err MATCHES "src/${file}:")
      string(APPEND failures "  ${file}: failed without naming the file:\n${err}\n")
    endif()
  elseif(NOT result EQUAL 0)
    string(APPEND failures "  ${file}: '${line}' was refused:\n${err}\n")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")

if(failures)
  message(FATAL_ERROR "the layering check is wrong about:\n${failures}")
endif()
message(STATUS "layering check: ${index} cases as expected")
