#pragma once

#include <atomic>

// The one <windows.h> include comes first; the IP Helper types build on it.
// clang-format off
#include "base/win32.h"
#include <iphlpapi.h>
// clang-format on

#include "base/command_line.h"
#include "base/text.h"

// How soon the host notices that the core is ready. Looked at every few milliseconds while the
// host waits, a closed port costs one refused loopback connection; the adapter, whose query costs
// far more, is asked only once the port is open, and then again when the system tells of a change
// to an interface, or, where it tells none, at a short pace of its own.

// Changes to the system's IP interfaces as the system tells them (NotifyIpInterfaceChange, loaded
// at run time), from the moment of construction to destruction. Where the registration fails, or
// is never confirmed by the system's first, initial call (Wine 8 registers nothing and never
// calls), nothing is told and the adapter has to be polled.
class AdapterChanges {
public:
    AdapterChanges();
    AdapterChanges(const AdapterChanges&) = delete;
    AdapterChanges& operator=(const AdapterChanges&) = delete;
    // Deregisters, which waits for a call in progress, before the flags it sets go.
    ~AdapterChanges();

    // True once the system has called with its initial notification: from then on it tells changes.
    bool AreTold() const { return told_.load(); }
    // True when a change was told since the last call.
    bool TakeChange() { return changed_.exchange(false); }

private:
    static void WINAPI OnChange(void* context, MIB_IPINTERFACE_ROW* row, MIB_NOTIFICATION_TYPE type);

    std::atomic<bool> told_{false};
    std::atomic<bool> changed_{false};
    HANDLE registration_ = nullptr;
};

// Whether the adapter is due for another query while the port is open and the adapter was not up:
// when a change was told since the last query, or the last one is a supervision cycle old; and
// where changes are not told, also every kAdapterPollMilliseconds. The host's supervision checks
// once a cycle.
inline constexpr ULONGLONG kSupervisionCycleMilliseconds = 100;
inline constexpr ULONGLONG kAdapterPollMilliseconds = 20;
bool IsAdapterQueryDue(bool changesTold, bool changedSinceQuery, ULONGLONG sinceQueryMilliseconds);

// The readiness of one core: its API port ("--api") open, to the core itself where the system's
// listener table names who listens, and its adapter ("--interface") up.
class ReadinessWatch {
public:
    ReadinessWatch(const OptionMap& options, HANDLE job);

    // Looks at what is due: the port until it opens, then the port and the adapter together when
    // the adapter is due. True once one look has found both; from then on it stays true. A bad
    // "--api" value throws, as ApiPort does.
    bool Look();

private:
    bool IsPortOpenToCore();

    WideString api_;
    WideString interfaceName_;
    HANDLE job_;
    bool askWhoListens_;
    AdapterChanges adapterChanges_;
    bool portOpen_ = false;
    bool ready_ = false;
    ULONGLONG lastAdapterQuery_ = 0;
};
