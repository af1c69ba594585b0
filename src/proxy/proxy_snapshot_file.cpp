#include "proxy/proxy_snapshot_file.h"

#include "base/file_io.h"
#include "base/win32.h"

void WriteProxySnapshot(const WideString& path, const ProxySnapshot& snapshot) {
    const ByteString bytes = EncodeProxySnapshot(snapshot);
    WriteFileAtomically(path, bytes);
    if (ReadWholeFile(path) != bytes) throw Win32Error{ERROR_WRITE_FAULT};
}

ProxySnapshot ReadProxySnapshot(const WideString& path) { return DecodeProxySnapshot(ReadWholeFile(path)); }
