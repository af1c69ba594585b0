// A named pipe that a program of the user serves, as one would at a path it hands the helper.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace testing_support {

// Serves a named pipe, one client after another, and counts the clients and what they write.
class PipeServer {
public:
    explicit PipeServer(std::wstring name);
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;
    ~PipeServer();

    int Connections() const { return connections_; }
    size_t BytesReceived() const { return bytes_; }

private:
    void Serve();

    std::wstring name_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<size_t> bytes_{0};
    std::thread thread_;
};

}  // namespace testing_support
