#pragma once

#include <memory>
#include <string>

#include "backend/HttpSession.h"
#include "backend/LocalServiceStarter.h"
#include "runtime/Executor.h"

namespace quillant::backend {

// The HTTP session in front of the local service: a request to `localBaseURL`
// first makes sure the service answers (starting it), and one that found the
// socket gone (the service had just stopped for idleness) is sent once more.
// A service that fails mid-request is not asked again: the caller reports it,
// and its next request starts the service anew. Everything else passes through.
class LocalServiceSession final : public HttpSession {
public:
    LocalServiceSession(Executor& executor, std::shared_ptr<HttpSession> inner, std::string localBaseURL,
                        std::shared_ptr<LocalServiceStarter> starter);

    TransferHandle send(HttpRequest request, Completion completion) override;
    TransferHandle download(HttpRequest request, std::filesystem::path destination, Completion completion) override;

private:
    Executor& executor_;
    std::shared_ptr<HttpSession> inner_;
    std::string localBaseURL_;
    std::shared_ptr<LocalServiceStarter> starter_;
};

}  // namespace quillant::backend
