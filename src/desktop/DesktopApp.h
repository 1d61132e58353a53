#pragma once

#include "desktop/cli/Commands.h"

namespace quillant::desktop {

// Runs the agent on the X11 desktop until SIGINT/SIGTERM: arms the hotkey and
// runs the coordinator. Without a display it says why and fails.
int runDesktop(cli::ProgramContext& context, int argc, char** argv);

}  // namespace quillant::desktop
