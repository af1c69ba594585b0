#include "host/readiness_watch.h"

#include <optional>
#include <vector>

#include "base/clock.h"
#include "base/process.h"
#include "host/port_owner.h"
#include "host/readiness_probes.h"

namespace {

using NotifyIpInterfaceChangeFunction = DWORD WINAPI(ADDRESS_FAMILY, PIPINTERFACE_CHANGE_CALLBACK, PVOID, BOOLEAN,
                                                     HANDLE*);
using CancelMibChangeNotify2Function = DWORD WINAPI(HANDLE);

// Where the listener table names no one, the port's owner is not asked for again at every look.
bool TableMayNameOwners() {
    const std::optional<std::vector<TcpListener>> listeners = ReadTcpListeners();
    return !listeners || MayNameOwners(*listeners);
}

}  // namespace

AdapterChanges::AdapterChanges() {
    try {
        auto* notify = LoadSystemFunction<NotifyIpInterfaceChangeFunction>(L"iphlpapi.dll", "NotifyIpInterfaceChange");
        if (notify(AF_UNSPEC, &AdapterChanges::OnChange, this, TRUE, &registration_) != NO_ERROR) {
            registration_ = nullptr;
        }
    } catch (const Win32Error&) {
        registration_ = nullptr;
    }
}

AdapterChanges::~AdapterChanges() {
    if (registration_ == nullptr) return;
    try {
        LoadSystemFunction<CancelMibChangeNotify2Function>(L"iphlpapi.dll", "CancelMibChangeNotify2")(registration_);
    } catch (const Win32Error&) {
        // Loaded once already, the library cannot be gone; should its function be, the process
        // ends with the host soon after and takes the registration with it.
    }
}

void WINAPI AdapterChanges::OnChange(void* context, MIB_IPINTERFACE_ROW*, MIB_NOTIFICATION_TYPE type) {
    auto* changes = static_cast<AdapterChanges*>(context);
    if (type == MibInitialNotification) {
        changes->told_.store(true);
    } else {
        changes->changed_.store(true);
    }
}

bool IsAdapterQueryDue(bool changesTold, bool changedSinceQuery, ULONGLONG sinceQueryMilliseconds) {
    if (changedSinceQuery || sinceQueryMilliseconds >= kSupervisionCycleMilliseconds) return true;
    return !changesTold && sinceQueryMilliseconds >= kAdapterPollMilliseconds;
}

ReadinessWatch::ReadinessWatch(const OptionMap& options, HANDLE job)
    : api_(options.Get(L"--api")),
      interfaceName_(options.Get(L"--interface")),
      job_(job),
      askWhoListens_(TableMayNameOwners()) {}

bool ReadinessWatch::Look() {
    if (ready_) return true;
    if (!portOpen_) {
        portOpen_ = IsPortOpenToCore();
        if (!portOpen_) return false;
        adapterChanges_.TakeChange();
    } else {
        const bool changed = adapterChanges_.TakeChange();
        if (!IsAdapterQueryDue(adapterChanges_.AreTold(), changed, MonotonicMilliseconds() - lastAdapterQuery_)) return false;
        // Both are found in one look, as the port may have closed since.
        portOpen_ = IsApiPortOpen(api_);
        if (!portOpen_) return false;
    }
    lastAdapterQuery_ = MonotonicMilliseconds();
    ready_ = IsInterfaceUp(interfaceName_);
    return ready_;
}

// A port that another program holds is not the core's, however long it listens.
bool ReadinessWatch::IsPortOpenToCore() {
    if (!IsApiPortOpen(api_)) return false;
    return !askWhoListens_ || FindPortOwner(ApiPort(api_), job_) != PortOwner::kAnotherProgram;
}
