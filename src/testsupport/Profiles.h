#pragma once

#include <string>
#include <vector>

#include "clipboard/PasteboardProfile.h"

namespace quillant::testing {

// A platform's clipboard names, for tests that run over each of them: the
// profile the program ships on Linux and the one the broker was first made for.
struct NamedProfile {
    std::string name;
    clipboard::PasteboardProfile profile;
};

inline std::vector<NamedProfile> everyProfile() {
    return {{"linuxX11", clipboard::PasteboardProfile::linuxX11()}, {"macOS", clipboard::PasteboardProfile::macOS()}};
}

}  // namespace quillant::testing
