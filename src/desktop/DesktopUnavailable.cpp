#include <cstdio>

#include "desktop/DesktopApp.h"

namespace quillant::desktop {

int runDesktop(cli::ProgramContext& context, int, char**) {
    std::fputs("quillant: this build has no desktop support (configure with QUILLANT_BUILD_DESKTOP=ON)\n",
               context.err);
    return cli::kExitFailure;
}

}  // namespace quillant::desktop
