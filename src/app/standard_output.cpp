#include "app/standard_output.h"

#include "app/win32.h"

void WriteStandardOutput(const ByteString& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
