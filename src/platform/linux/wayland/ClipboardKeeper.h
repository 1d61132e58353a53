#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clipboard/Bytes.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// On Wayland what a program holds on the clipboard goes when it quits (X11
// has clipboard managers that take it over; Wayland has no such convention).
// So on quitting, what we hold goes to a small process of ours, started
// detached, that serves it until another program takes the clipboard.

using ClipboardEntries = std::vector<std::pair<std::string, clipboard::Bytes>>;

// The entries on a pipe: per entry the type's length (u32), the type, the
// bytes' length (u64), the bytes; in host order (the pipe never leaves the machine).
std::string encodeClipboardEntries(const ClipboardEntries& entries);
// None when the data is cut short or malformed.
std::optional<ClipboardEntries> decodeClipboardEntries(std::string_view data);

// Whether the entries carry KDE's password-manager hint ("secret").
bool markedSecret(const ClipboardEntries& entries);

// Starts `executable` with the argument "clipboard-keeper" in a session of
// its own, hands it the entries and waits (at most `bound`) until it holds
// the clipboard. False, with the reason in `error`, when it did not, and
// without starting anything when the entries are marked secret.
bool handOverToClipboardKeeper(const std::string& executable, const ClipboardEntries& entries,
                               std::chrono::milliseconds bound, std::string& error);

// The keeper itself: reads the entries from `in`, takes the clipboard of
// $WAYLAND_DISPLAY, says "ok" on `out`, and serves until another program
// takes the clipboard or the compositor goes. Its exit status.
int runClipboardKeeper(Logger& logger, std::FILE* in, std::FILE* out);

}  // namespace quillant::linux_platform
