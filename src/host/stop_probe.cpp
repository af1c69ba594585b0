#include "base/client_path_access.h"
#include "host/readiness_probes.h"

bool IsStopRequested(HANDLE client, const WideString& stopPath) {
    if (WaitForSingleObject(client, 0) != WAIT_TIMEOUT) return true;
    const ClientPathAccess access;
    return GetFileAttributesW(stopPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}
