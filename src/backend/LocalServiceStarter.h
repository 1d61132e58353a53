#pragma once

#include <optional>
#include <string>

#include "runtime/Task.h"

namespace quillant::backend {

// Brings up the user's own local service on its socket when it is needed.
class LocalServiceStarter {
public:
    virtual ~LocalServiceStarter() = default;
    // Returns once the service answers on its socket (none), starting it when
    // it does not; or why it cannot be reached, for the user and the log.
    virtual Task<std::optional<std::string>> ensureRunning() = 0;
};

}  // namespace quillant::backend
