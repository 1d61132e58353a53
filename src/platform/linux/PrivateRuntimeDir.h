#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quillant::linux_platform {

// quillant's folder in the user's runtime directory: "$XDG_RUNTIME_DIR/quillant";
// without one, /run/user/UID/quillant where the login manager made that
// directory, else ~/.cache/quillant-runtime (never in /tmp, where another user
// could make it first). Only its owner can enter it, so a socket inside can be
// reached by nobody else. Nothing is checked here.
std::filesystem::path runtimeFolder(const char* xdgRuntimeDir);

// The local service's socket in that folder.
std::filesystem::path localServiceSocket(const char* xdgRuntimeDir);

// Whether something accepts connections on the Unix socket at `path` (its
// folder's privacy is not checked here).
bool unixSocketAnswers(const std::filesystem::path& path);

// Why `folder` is not private to this user (not a folder, a symbolic link,
// another owner, open to the group or to others), with what the user can do
// about it; nothing when it is private, or when it does not exist.
std::optional<std::string> whyNotPrivate(const std::filesystem::path& folder);

// Creates `folder` (and a missing parent, 0700) if needed and checks that it
// is private. An existing folder's mode is never changed. Throws
// std::runtime_error with a message for the user.
void ensurePrivateFolder(const std::filesystem::path& folder);

}  // namespace quillant::linux_platform
