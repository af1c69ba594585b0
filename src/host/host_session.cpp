#include "host/host_session.h"

void HostSession::Report(std::string_view stage) { files.Report(stage); }

void HostSession::ReportFailure(std::string_view stage, std::string_view code, uint32_t win32, uint32_t exitCode) {
    files.Report(stage, StatusFailure{code, win32, exitCode});
}
