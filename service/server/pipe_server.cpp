#include "service/server/pipe_server.h"

namespace qor {

bool PipeServer::Start(RequestHandler handler) {
    std::lock_guard lock(mutex_);
    if (server_) server_->Stop();
    server_ = platform::CreateMessagePipeServer();
    platform::PipeServerOptions options;
    options.name = kServicePipeName;
    options.instances = kServicePipeInstances;
    options.defaultTimeoutMs = kServicePipeDefaultTimeoutMs;
    options.access = platform::PipeAccess::EveryoneAndAppContainers;
    return server_->Start(options, std::move(handler));
}

void PipeServer::Stop() {
    std::lock_guard lock(mutex_);
    if (server_) server_->Stop();
}

}  // namespace qor
