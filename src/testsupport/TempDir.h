#pragma once

#include <filesystem>
#include <string>

namespace quillant::testing {

// A fresh directory under the temporary folder, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A whole file's bytes; throws when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// Replaces a file's bytes; throws when it cannot be written.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace quillant::testing
