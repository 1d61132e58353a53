#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>

namespace quillant {

// Writes all of `bytes` to `fd`, going on after interruptions and short writes.
bool writeAll(int fd, std::string_view bytes);

// Replaces `target` with `bytes` so that a reader, or a crash, sees the old file
// or the new one and never a mixture: a new file beside it, created at `mode`
// (never wider, not even for a moment, whatever the umask), is written, flushed
// to disk and renamed over `target`; then the folder is flushed so that the
// rename lasts. The folder must exist. Returns 0, or the errno of the step that
// failed, in which case `target` is as it was and nothing is left beside it.
int replaceFileAtomically(const std::filesystem::path& target, std::string_view bytes, mode_t mode);

}  // namespace quillant
