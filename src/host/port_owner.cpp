#include "host/port_owner.h"

#include <algorithm>

// clang-format off
#include "base/win32.h"
#include <iphlpapi.h>
// clang-format on

#include "base/process.h"

namespace {

using GetExtendedTcpTableFunction = DWORD WINAPI(PVOID, PDWORD, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

constexpr DWORD kFirstTableBytes = 16384;
constexpr DWORD kFirstJobIds = 64;
// Listeners come and go between a query for the size and the next.
constexpr int kTableQueries = 3;

bool ReachesLoopback(const TcpListener& listener, uint16_t port) {
    return listener.port == port && (listener.address == INADDR_LOOPBACK || listener.address == INADDR_ANY);
}

std::vector<TcpListener> ListenersOf(const MIB_TCPTABLE_OWNER_PID& table) {
    std::vector<TcpListener> listeners;
    listeners.reserve(table.dwNumEntries);
    for (DWORD i = 0; i < table.dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = table.table[i];
        listeners.push_back({ntohl(row.dwLocalAddr), ntohs(static_cast<u_short>(row.dwLocalPort)), row.dwOwningPid});
    }
    return listeners;
}

// Room for the list header and `ids` process ids, 8-byte aligned.
std::vector<ULONGLONG> JobIdBuffer(DWORD ids) {
    return std::vector<ULONGLONG>((sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + ids * sizeof(ULONG_PTR) + 7) / 8, 0);
}

}  // namespace

PortOwner OwnerOfPort(const std::vector<TcpListener>& listeners, uint16_t port,
                      const std::vector<uint32_t>& jobProcessIds) {
    bool any = false;
    bool allNamed = true;
    for (const TcpListener& listener : listeners) {
        if (!ReachesLoopback(listener, port)) continue;
        any = true;
        if (listener.processId == 0) {
            allNamed = false;
        } else if (std::find(jobProcessIds.begin(), jobProcessIds.end(), listener.processId) != jobProcessIds.end()) {
            return PortOwner::kCore;
        }
    }
    return any && allNamed ? PortOwner::kAnotherProgram : PortOwner::kUnknown;
}

bool MayNameOwners(const std::vector<TcpListener>& listeners) {
    return listeners.empty() ||
           std::any_of(listeners.begin(), listeners.end(), [](const TcpListener& l) { return l.processId != 0; });
}

std::optional<std::vector<TcpListener>> ReadTcpListeners() {
    GetExtendedTcpTableFunction* getTable = nullptr;
    try {
        getTable = LoadSystemFunction<GetExtendedTcpTableFunction>(L"iphlpapi.dll", "GetExtendedTcpTable");
    } catch (const Win32Error&) {
        return std::nullopt;
    }
    DWORD size = kFirstTableBytes;
    for (int query = 0; query < kTableQueries; ++query) {
        std::vector<ULONGLONG> buffer((size + 7) / 8, 0);
        const DWORD result = getTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
        if (result == NO_ERROR) return ListenersOf(*reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data()));
        if (result != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<uint32_t>> ProcessIdsInJob(HANDLE job) {
    DWORD room = kFirstJobIds;
    for (int query = 0; query < kTableQueries; ++query) {
        std::vector<ULONGLONG> buffer = JobIdBuffer(room);
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        const bool read = QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                                    static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), nullptr);
        if (!read && GetLastError() != ERROR_MORE_DATA) return std::nullopt;
        if (read && list->NumberOfProcessIdsInList >= list->NumberOfAssignedProcesses) {
            std::vector<uint32_t> ids;
            for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
                ids.push_back(static_cast<uint32_t>(list->ProcessIdList[i]));
            }
            return ids;
        }
        room = list->NumberOfAssignedProcesses + kFirstJobIds;
    }
    return std::nullopt;
}

PortOwner FindPortOwner(uint16_t port, HANDLE job) {
    const std::optional<std::vector<TcpListener>> listeners = ReadTcpListeners();
    if (!listeners) return PortOwner::kUnknown;
    const std::optional<std::vector<uint32_t>> jobProcessIds = ProcessIdsInJob(job);
    if (!jobProcessIds) return PortOwner::kUnknown;
    return OwnerOfPort(*listeners, port, *jobProcessIds);
}
