#include <cstdlib>
#include <exception>
#include <map>

#include "desktop/cli/Commands.h"
#include "clipboard/ChromiumPickle.h"
#include "clipboard/PasteboardBroker.h"
#include "clipboard/SlackDelta.h"
#include "platform/linux/x11/X11Clipboard.h"
#include "text/Text.h"

namespace quillant::desktop::cli {

namespace {

// A short, one-line preview of a value.
std::string preview(const std::string& value) {
    std::string out;
    for (char ch : value) {
        if (ch == '\n') out += "\\n";
        else if (ch == '\t') out += "\\t";
        else if (static_cast<unsigned char>(ch) < 0x20) out += '?';
        else out += ch;
        if (out.size() >= 72) {
            out += "…";
            break;
        }
    }
    return out;
}

// Records the clipboard's complaints (e.g. a target over the size bound) for the report.
class CollectingLogger final : public Logger {
public:
    void write(LogLevel, std::string_view, std::string_view, std::string_view message) override {
        lines.emplace_back(message);
    }
    std::vector<std::string> lines;
};

}  // namespace

int inspect(ProgramContext& c) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fputs("quillant: no X11 display (DISPLAY is not set); inspect reads the desktop's clipboard\n", c.err);
        return kExitFailure;
    }
    CollectingLogger log;
    std::unique_ptr<linux_platform::X11Clipboard> board;
    try {
        board = std::make_unique<linux_platform::X11Clipboard>(log);
    } catch (const std::exception& e) {
        std::fprintf(c.err, "quillant: cannot read the clipboard: %s\n", e.what());
        return kExitFailure;
    }
    const auto profile = clipboard::PasteboardProfile::linuxX11();

    // Exactly what a fix would snapshot and put back.
    std::size_t items = board->itemCount();
    if (items == 0) {
        std::fputs("The clipboard is empty.\n", c.out);
        return kExitOK;
    }
    std::fputs("Clipboard types (what a fix saves and puts back):\n", c.out);
    for (const auto& type : board->types(0)) {
        auto bytes = board->data(0, type);
        if (bytes)
            std::fprintf(c.out, "  %-40s %zu bytes\n", type.c_str(), bytes->size());
        else
            std::fprintf(c.out, "  %-40s unreadable\n", type.c_str());
    }
    for (auto& line : log.lines) std::fprintf(c.out, "  note: %s\n", line.c_str());

    auto text = board->stringForType(profile.plainText);
    if (text)
        std::fprintf(c.out, "\nPlain text: %zu characters: %s\n", text::graphemeCount(*text), preview(*text).c_str());
    else
        std::fputs("\nPlain text: none — a fix would stop with \"Couldn't read selection\"\n", c.out);

    std::fprintf(c.out, "\nChromium custom data (%s): ", profile.chromiumCustom.c_str());
    auto container = board->dataForType(profile.chromiumCustom);
    if (!container) {
        std::fputs("not on the clipboard\nSlack payload: none (not copied from Slack or another Chromium app)\n", c.out);
        return kExitOK;
    }
    auto map = clipboard::ChromiumPickle::decode(container->view());
    if (!map) {
        std::fprintf(c.out, "%zu bytes that do not decode as a container\nSlack payload: unreadable\n",
                     container->size());
        return kExitOK;
    }
    std::fprintf(c.out, "%zu entries\n", map->size());
    for (auto& [key, value] : *map)
        std::fprintf(c.out, "  %-30s %zu characters: %s\n", key.c_str(), text::graphemeCount(value),
                     preview(value).c_str());

    auto slack = map->find(profile.slackKey);
    if (slack == map->end()) {
        std::fprintf(c.out, "Slack payload: none (no %s entry)\n", profile.slackKey.c_str());
        return kExitOK;
    }
    auto delta = clipboard::SlackDelta::decode(slack->second);
    if (!delta) {
        std::fputs("Slack payload: present but not a readable Slack document — mentions would be pasted as plain "
                   "text\n",
                   c.out);
        return kExitOK;
    }
    auto mentions = delta->mentionOps();
    std::fprintf(c.out, "Slack payload: %zu operations, %zu mentions\n", delta->ops.size(), mentions.size());
    for (auto& op : mentions)
        std::fprintf(c.out, "  mention %s (%s)\n", op.attributes->slackmention->label.c_str(),
                     op.attributes->slackmention->id.c_str());
    return kExitOK;
}

}  // namespace quillant::desktop::cli
