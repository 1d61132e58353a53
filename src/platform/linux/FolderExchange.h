#pragma once

#include <filesystem>

namespace quillant::linux_platform {

// Swaps the entries at `a` and `b` (both must exist) in one step, so that
// `b` never stops existing, then syncs the folder(s) holding them so that
// the swap survives a crash (as far as the file system lets it). 0 when done; EINVAL, ENOSYS or EOPNOTSUPP when
// the file system cannot exchange (nothing changed); else the errno.
int exchangeFolders(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether `error` (from exchangeFolders) means only that the file system cannot exchange.
bool exchangeUnsupported(int error);

}  // namespace quillant::linux_platform
