// quillant-clipboard-probe: lists the CLIPBOARD owner's targets with the
// exact size, property type and format of each, as quillant reads them.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "platform/linux/x11/SelectionPolicy.h"
#include "platform/linux/x11/X11Clipboard.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: quillant-clipboard-probe [--display NAME]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string display;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--display") == 0 && i + 1 < argc)
            display = argv[++i];
        else
            return usage();
    }
    quillant::StderrLogger logger;
    try {
        quillant::linux_platform::X11Clipboard clipboard(logger, display);
        auto targets = clipboard.ownerTargets();
        if (targets.empty()) {
            std::printf("the clipboard is empty or its owner does not answer\n");
            return 1;
        }
        for (auto& name : targets) {
            if (!quillant::linux_platform::isContentTarget(name)) {
                std::printf("%s\tprotocol\n", name.c_str());
                continue;
            }
            auto data = clipboard.fetch(name);
            if (!data)
                std::printf("%s\tunreadable\n", name.c_str());
            else
                std::printf("%s\t%zu bytes\t%s/%d\n", name.c_str(), data->bytes.size(), data->type.c_str(),
                            data->format);
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillant-clipboard-probe: %s\n", e.what());
        return 2;
    }
}
