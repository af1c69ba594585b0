#include "support/pipe_server.h"

#include <utility>

#include "base/unique_resource.h"

namespace testing_support {

PipeServer::PipeServer(std::wstring name) : name_(std::move(name)), thread_([this] { Serve(); }) {}

PipeServer::~PipeServer() {
    stop_ = true;
    // Wakes the server from its wait for a client.
    const UniqueHandleFile wake(CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    thread_.join();
}

void PipeServer::Serve() {
    while (!stop_) {
        const UniqueHandleFile pipe(CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE,
                                                     PIPE_UNLIMITED_INSTANCES, 0, 4096, 0, nullptr));
        if (!pipe || !ConnectNamedPipe(pipe.Get(), nullptr) || stop_) return;
        ++connections_;
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(pipe.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes_ += read;
    }
}

}  // namespace testing_support
