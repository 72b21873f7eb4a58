#include "tests/runtime/fake_service.h"

#include <cstring>

namespace qor::test {

FakeService::FakeService(uint32_t instances) : server_(platform::CreateMessagePipeServer()) {
    platform::PipeServerOptions options;
    options.name = "NorvikOpenXRPipe";
    options.instances = instances;
    server_->Start(options, [this](platform::PipeClient&, const uint8_t* request, uint32_t size, uint8_t* reply, uint32_t* replySize) {
        Handle(request, size, reply, replySize);
    });
}

FakeService::~FakeService() { Stop(); }

void FakeService::Stop() {
    ReleaseReplies();  // an instance thread blocked on a held reply could not be joined
    server_->Stop();
}

void FakeService::HoldReplies() {
    std::lock_guard lock(mutex_);
    holding_ = true;
}

void FakeService::ReleaseReplies() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
    }
    released_.notify_all();
}

void FakeService::Handle(const uint8_t* request, uint32_t size, uint8_t* reply, uint32_t* replySize) {
    PreparedReply answer;
    {
        std::unique_lock lock(mutex_);
        uint32_t code = 1;
        if (size >= 4) std::memcpy(&code, request, 4);
        if (size == 4 && code == 0) {
            ++probes_;
        } else {
            requests_.emplace_back(request, request + size);
            if (!replies_.empty()) {
                answer = std::move(replies_.front());
                replies_.pop_front();
            }
            released_.wait(lock, [this] { return !holding_; });
        }
    }
    std::memcpy(reply, &answer.result, 4);
    if (!answer.body.empty()) std::memcpy(reply + 4, answer.body.data(), answer.body.size());
    *replySize = static_cast<uint32_t>(4 + answer.body.size());
}

void FakeService::Reply(XrResult result, Bytes body) {
    std::lock_guard lock(mutex_);
    replies_.push_back(PreparedReply {result, std::move(body)});
}

std::vector<Bytes> FakeService::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

Bytes FakeService::LastRequest() {
    std::lock_guard lock(mutex_);
    return requests_.empty() ? Bytes() : requests_.back();
}

size_t FakeService::RequestCount() {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

size_t FakeService::ProbeCount() {
    std::lock_guard lock(mutex_);
    return probes_;
}

void FakeService::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

FakeClientService::FakeClientService() : server_(platform::CreateMessagePipeServer()) {
    platform::PipeServerOptions options;
    options.name = "QorClientSvc_NamedPipe";
    options.instances = 2;
    server_->Start(options, [this](platform::PipeClient&, const uint8_t* message, uint32_t size, uint8_t*, uint32_t* replySize) {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(message, message + size);
        times_.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
                             .count());
        *replySize = 0;  // the start request gets no reply
    });
}

FakeClientService::~FakeClientService() { server_->Stop(); }

std::vector<Bytes> FakeClientService::Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<int64_t> FakeClientService::ArrivalTimes() {
    std::lock_guard lock(mutex_);
    return times_;
}

}  // namespace qor::test
