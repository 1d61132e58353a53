#pragma once

namespace quillant::testing {

// A loopback port that was free a moment ago, with nothing listening on it:
// connections to it are refused, and a server may bind it.
int unusedLoopbackPort();

}  // namespace quillant::testing
