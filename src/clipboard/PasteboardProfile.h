#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillant::clipboard {

// The clipboard type names and marker bytes of one platform. The broker's
// logic is the same everywhere; only these names differ.
struct PasteboardProfile {
    std::string plainText;                       // the plain UTF-8 text type
    std::vector<std::string> plainTextAliases;   // more names our own text is offered under
    std::string concealed;                       // "do not show or keep" marker type
    std::string concealedBytes;                  // the bytes written under it
    std::optional<std::string> transient;        // "do not record in history" marker, where a convention exists
    std::string transientBytes;
    std::string chromiumCustom;                  // Chromium's custom-data container
    std::string chromiumPlainTextKey;            // plain text's key inside that container
    std::string slackKey = "slack/texty";        // Slack's JSON inside that container

    static PasteboardProfile macOS() {
        return {"public.utf8-plain-text", {}, "org.nspasteboard.ConcealedType", "",
                "org.nspasteboard.TransientType", "", "org.chromium.web-custom-data",
                "public.utf8-plain-text"};
    }

    // Linux/X11: KDE's password-manager hint is the marker that Klipper, CopyQ
    // and others honour; there is no transient convention, so none is written.
    static PasteboardProfile linuxX11() {
        return {"text/plain;charset=utf-8", {"UTF8_STRING", "text/plain"}, "x-kde-passwordManagerHint", "secret",
                std::nullopt, "", "chromium/x-web-custom-data", "text/plain"};
    }
};

}  // namespace quillant::clipboard
