#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/win32.h"

// Who listens on the core's API port, as the system's TCP listener table tells it: the core (or
// a process in its job), another program that happens to listen there, or nobody can tell.

struct TcpListener {
    uint32_t address = 0;    // IPv4, host byte order
    uint16_t port = 0;
    uint32_t processId = 0;  // 0: the table does not tell (Wine never does)
};

enum class PortOwner { kCore, kAnotherProgram, kUnknown };

// Decided by the listeners that a connection to 127.0.0.1 on `port` reaches (those bound to
// 127.0.0.1 or to every address): kCore when one of them is a process of `jobProcessIds`;
// kAnotherProgram when each names its process and none is in the job; kUnknown when there is
// none, or one whose process the table does not name.
PortOwner OwnerOfPort(const std::vector<TcpListener>& listeners, uint16_t port,
                      const std::vector<uint32_t>& jobProcessIds);

// False when the table lists listeners but names the process of none of them (Wine): asking it
// who listens on a port would tell nothing. True when it names one, or lists none yet.
bool MayNameOwners(const std::vector<TcpListener>& listeners);

// The system's IPv4 listener table (IP Helper's GetExtendedTcpTable, loaded at run time); none
// when it cannot be read.
std::optional<std::vector<TcpListener>> ReadTcpListeners();

// The ids of every process in `job`; none when they cannot be read, all of them.
std::optional<std::vector<uint32_t>> ProcessIdsInJob(HANDLE job);

// OwnerOfPort over the table and the job as they are now; kUnknown when either cannot be read.
PortOwner FindPortOwner(uint16_t port, HANDLE job);
