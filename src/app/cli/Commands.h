#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillant::app::cli {

// Exit statuses of the program.
inline constexpr int kExitOK = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What the commands need from the process, gathered once by main().
struct ProgramContext {
    std::string serviceURL;                  // the text-fixing service
    std::optional<std::filesystem::path> home;
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
};

const char* usageText();

// The service's base URL: the built-in one, or QUILLANT_SERVICE_URL when it
// is a URL we may trust. "local" is the user's own service on its socket in
// the private runtime folder (from `xdgRuntimeDir`). Nothing on error.
std::optional<std::string> resolveServiceURL(const char* overrideValue, const char* xdgRuntimeDir, std::string& error);

int keySet(ProgramContext& context);
int keyClear(ProgramContext& context);
int keyStatus(ProgramContext& context);
int fix(ProgramContext& context);
int inspect(ProgramContext& context);

// Reads all of a stream, refusing more than `limit` bytes (nothing then).
std::optional<std::string> readAll(std::FILE* in, std::size_t limit);

}  // namespace quillant::app::cli
