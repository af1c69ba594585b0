#include "base/standard_output.h"

#include "base/win32.h"

void WriteStandardOutput(const ByteString& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
