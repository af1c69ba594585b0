#pragma once

#include <string>

#include "base/text.h"
#include "base/win32.h"

namespace testing_support {

// A fresh, empty folder under the system's temporary path, removed with its content
// when the owner goes out of scope. Its name holds a blank, so every path a test builds
// from it exercises quoting.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    ~TemporaryDirectory();

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool PathExists(const std::wstring& path);
// The file's bytes, or nothing when it cannot be read. Opens it only briefly, sharing everything
// unless told otherwise (clients' readers commonly share reading only).
std::string ReadFileBytes(const std::wstring& path,
                          DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
void RemoveTree(const std::wstring& path);

}  // namespace testing_support
