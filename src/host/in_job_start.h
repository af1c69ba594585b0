#pragma once

#include <vector>

#include "base/win32.h"

// The process attributes that make CreateProcessW create a process inside a job from its
// first moment. Between a creation and a later assignment to the job, a host that is killed
// would leave a suspended core in no job, one that never runs and never ends.
class InJobStartAttributes {
public:
    explicit InJobStartAttributes(HANDLE job);
    InJobStartAttributes(const InJobStartAttributes&) = delete;
    InJobStartAttributes& operator=(const InJobStartAttributes&) = delete;
    ~InJobStartAttributes();

    // For STARTUPINFOEXW; null when the list could not be made (GetLastError right after
    // construction tells why).
    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    HANDLE job_;  // the attribute points here, so it lives as long as the list
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};
