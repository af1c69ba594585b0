#include "base/client_path_access.h"
#include "host/readiness_probes.h"

// Where the client's rights cannot be put on the thread, the stop path is not looked at and the
// answer is yes: the connection ends rather than go on unsupervised by its client.
bool IsStopRequested(HANDLE client, const WideString& stopPath) {
    if (WaitForSingleObject(client, 0) != WAIT_TIMEOUT) return true;
    const ClientPathAccess access;
    return !access.Granted() || GetFileAttributesW(stopPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}
