#include "host/in_job_start.h"

InJobStartAttributes::InJobStartAttributes(HANDLE job) : job_(job) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job_, sizeof(job_), nullptr, nullptr)) {
        const DWORD error = GetLastError();
        DeleteProcThreadAttributeList(list);
        SetLastError(error);
        return;
    }
    list_ = list;
}

InJobStartAttributes::~InJobStartAttributes() {
    if (list_ != nullptr) DeleteProcThreadAttributeList(list_);
}
