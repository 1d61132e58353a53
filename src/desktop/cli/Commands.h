#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/HttpSession.h"
#include "backend/LocalServiceStarter.h"
#include "runtime/Executor.h"
#include "runtime/Logger.h"

namespace quillant::desktop::cli {

// Exit statuses of the program.
inline constexpr int kExitOK = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What the commands need from the process, gathered once by main().
struct ProgramContext {
    std::string serviceURL;                  // the text-fixing service
    // Set when that is quillant's own local corrector, on this socket: it is
    // started on demand and its key is made by quillant.
    std::optional<std::filesystem::path> localServiceSocket;
    std::optional<std::filesystem::path> home;
    const char* xdgRuntimeDir = nullptr;     // where the running agent listens
    const char* x11Display = nullptr;        // $DISPLAY
    const char* waylandDisplay = nullptr;    // $WAYLAND_DISPLAY
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

const char* usageText();

// The service's base URL: the built-in one, or QUILLANT_SERVICE_URL when it
// is a URL we may trust. "local" is the user's own service on its socket in
// the private runtime folder (from `xdgRuntimeDir`). Nothing on error.
std::optional<std::string> resolveServiceURL(const char* overrideValue, const char* xdgRuntimeDir, std::string& error);

// quillant's own local corrector as the program's commands and the agent use
// it: how it is started, and its key, made on first use.
struct LocalCorrector {
    std::shared_ptr<backend::LocalServiceStarter> starter;
    std::optional<std::string> key;  // none: it could not be made (`error` says why)
    std::string error;
};
// None when the service is not the local corrector.
std::optional<LocalCorrector> localCorrector(const ProgramContext& context, Logger& log);
// The session the service is asked through: `http`, behind one that starts the
// local corrector when it is needed.
std::shared_ptr<backend::HttpSession> serviceSession(Executor& executor, std::shared_ptr<backend::HttpSession> http,
                                                     const ProgramContext& context,
                                                     const std::optional<LocalCorrector>& local);

// One line to a terminal or a pipe, flushed at once.
void say(std::FILE* f, const std::string& line);

int keySet(ProgramContext& context);
int keyClear(ProgramContext& context);
int keyStatus(ProgramContext& context);
int fix(ProgramContext& context);
int inspect(ProgramContext& context);
// Hands a hotkey press to the running agent of this session.
int trigger(ProgramContext& context);
// Prints what this session offers (displays, Wayland globals, portals) and
// what quillant uses there; fails when it could not fix anything here.
int doctor(ProgramContext& context);

// `verb` is "on", "off" or "status".
int autostart(ProgramContext& context, std::string_view verb);

// The login entry's file name: the application's reverse-DNS id.
inline constexpr const char* kAutostartFileName = "com.vostel.quillant.desktop";
// One argument of a desktop entry's Exec key naming `path`; none when the path
// holds control characters, which the key cannot carry.
std::optional<std::string> desktopExecArgument(const std::filesystem::path& path);
// The XDG autostart entry that starts `executable` at login.
std::optional<std::string> autostartEntry(const std::filesystem::path& executable);

// quillant-service beside quillant (in a build tree, in the service's folder).
std::filesystem::path serviceProgram();

// `quillant corrector show|set|try|models …`; `args` follow "corrector".
int corrector(ProgramContext& context, const std::vector<std::string>& args);

inline constexpr std::size_t kMaxStdinBytes = 1 << 20;
// One line from a terminal with its echo off, so a key is not shown; nothing
// when it is far too long.
std::optional<std::string> readSecretLine(ProgramContext& context, const char* prompt);

// Reads all of a stream, refusing more than `limit` bytes (nothing then).
std::optional<std::string> readAll(std::FILE* in, std::size_t limit);

}  // namespace quillant::desktop::cli
