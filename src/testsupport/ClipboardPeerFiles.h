#pragma once

#include <cctype>
#include <cstdio>
#include <string>

namespace quillant::testing {

// How the clipboard peer names the file of a target it read: the target's name
// with everything but [A-Za-z0-9._-] as %XX. The peer writes these names and
// the tests read them.
inline std::string peerFileName(const std::string& target) {
    std::string out;
    for (unsigned char c : target) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
            out.push_back(char(c));
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace quillant::testing
