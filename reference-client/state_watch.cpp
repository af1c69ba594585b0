#include "state_watch.h"

#include <cstdint>

#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

bool ReadFileBriefly(const std::wstring& path, std::string& content) {
    const UniqueHandleFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char buffer[4096];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) return false;
    content.assign(buffer, read);
    return true;
}

namespace {

// The file's size and last write time, taken without opening it.
bool Fingerprint(const std::wstring& path, uint64_t& fingerprint) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    fingerprint = FileTimeCount(data.ftLastWriteTime) ^
                  (static_cast<uint64_t>(data.nFileSizeLow) << 48);
    return true;
}

// The state file's records, each given once. The fewer and shorter the reads, the smaller the
// chance of being in the way of the host's next record: the file is opened only when it has
// changed, and read at once.
class RecordReader {
public:
    explicit RecordReader(const std::wstring& statePath) : statePath_(statePath) {}

    // A record not given before, looked for only when the file has changed since it was last read.
    bool ChangedRecord(std::string& json, StatusRecord& record) {
        uint64_t fingerprint = 0;
        if (!Fingerprint(statePath_, fingerprint) || fingerprint == readFingerprint_) return false;
        if (!ReadFileBriefly(statePath_, json)) return false;
        readFingerprint_ = fingerprint;
        return Unseen(json, record);
    }

    // A record not given before, looked for whether or not the file has changed.
    bool UnseenRecord(std::string& json, StatusRecord& record) {
        return ReadFileBriefly(statePath_, json) && Unseen(json, record);
    }

private:
    bool Unseen(const std::string& json, StatusRecord& record) {
        if (json == seen_ || !ParseStatusRecord(json, record)) return false;
        seen_ = json;
        return true;
    }

    const std::wstring statePath_;
    std::string seen_;
    uint64_t readFingerprint_ = 0;
};

}  // namespace

bool DoneMarkerWritten(const std::wstring& donePath) {
    std::string content;
    return ReadFileBriefly(donePath, content) && content == "done";
}

bool WaitForDoneMarker(const std::wstring& donePath, unsigned timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    while (!DoneMarkerWritten(donePath)) {
        if (GetTickCount64() > deadline) return false;
        Sleep(50);
    }
    return true;
}

Outcome WaitForOutcome(const std::wstring& statePath, const std::wstring& donePath, unsigned timeoutMilliseconds,
                       const std::function<void(const std::string&, const StatusRecord&)>& onRecord,
                       StatusRecord& last) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    RecordReader reader(statePath);
    for (;;) {
        // The marker first: a record the host wrote just before it is then read below.
        const bool hostEnded = DoneMarkerWritten(donePath);
        std::string json;
        StatusRecord record;
        if (hostEnded ? reader.UnseenRecord(json, record) : reader.ChangedRecord(json, record)) {
            last = record;
            onRecord(json, record);
            if (record.ready) return Outcome::Ready;
            if (record.failed) {
                WaitForDoneMarker(donePath, 10000);
                return Outcome::Failed;
            }
        }
        if (hostEnded) return Outcome::EndedWithoutRecord;
        if (GetTickCount64() > deadline) return Outcome::TimedOut;
        Sleep(5);
    }
}
