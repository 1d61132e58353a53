#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/BuildConfig.h"

namespace {

constexpr const char* kUsage =
    "usage: quillant [--version | --help]\n"
    "\n"
    "Replaces the selected text with a corrected version from the text-fixing service.\n"
    "\n"
    "options:\n"
    "  --version   print the version and exit\n"
    "  --help      print this help and exit\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("quillant %s\n", quillant::build::kVersion);
        return 0;
    }
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 1) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "quillant: unknown argument '%s'\n", argv[1]);
    std::fputs(kUsage, stderr);
    return 2;
}
