// The program's entry: reads the command line, gathers the process's
// environment once, and hands over to the command (or the desktop agent).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/BuildConfig.h"
#include "desktop/DesktopApp.h"
#include "desktop/cli/Commands.h"
#include "credentials/TokenStore.h"
#include "platform/linux/wayland/ClipboardKeeper.h"
#include "runtime/Logger.h"

using namespace quillant::desktop;

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    auto is = [&](std::initializer_list<std::string_view> words) {
        return args.size() == words.size() && std::equal(words.begin(), words.end(), args.begin());
    };

    if (is({"--version"})) {
        std::printf("quillant %s\n", quillant::build::kVersion);
        return cli::kExitOK;
    }
    if (is({"--help"}) || is({"-h"}) || is({"help"})) {
        std::fputs(cli::usageText(), stdout);
        return cli::kExitOK;
    }

    // Started by the agent as it quits on Wayland, to serve what it held on the clipboard.
    if (is({"clipboard-keeper"})) {
        quillant::StderrLogger logger;
        return quillant::linux_platform::runClipboardKeeper(logger, stdin, stdout);
    }

    cli::ProgramContext context;
    std::string error;
    auto url = cli::resolveServiceURL(std::getenv("QUILLANT_SERVICE_URL"), std::getenv("XDG_RUNTIME_DIR"), error);
    if (!url) {
        std::fprintf(stderr, "quillant: %s\n", error.c_str());
        return cli::kExitUsage;
    }
    context.serviceURL = *url;
    context.home = quillant::credentials::userHomeDirectory(std::getenv("HOME"));
    context.xdgRuntimeDir = std::getenv("XDG_RUNTIME_DIR");
    context.x11Display = std::getenv("DISPLAY");
    context.waylandDisplay = std::getenv("WAYLAND_DISPLAY");

    if (args.empty()) return runDesktop(context, argc, argv);
    if (is({"key", "set"})) return cli::keySet(context);
    if (is({"key", "clear"})) return cli::keyClear(context);
    if (is({"key", "status"})) return cli::keyStatus(context);
    if (is({"fix"})) return cli::fix(context);
    if (is({"inspect"})) return cli::inspect(context);
    if (is({"trigger"})) return cli::trigger(context);
    if (is({"doctor"})) return cli::doctor(context);
    for (std::string_view verb : {"on", "off", "status"})
        if (is({"autostart", verb})) return cli::autostart(context, verb);

    std::string given;
    for (auto a : args) given += (given.empty() ? "" : " ") + std::string(a);
    std::fprintf(stderr, "quillant: unknown command '%s'\n\n", given.c_str());
    std::fputs(cli::usageText(), stderr);
    return cli::kExitUsage;
}
