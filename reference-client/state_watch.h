#pragma once

#include <functional>
#include <string>

#include "status_record.h"

// Reads a small file whole and closes it at once. A reader must never keep the state
// file open: the host replaces it with a move, which fails while anyone holds it.
// Returns false when the file is absent or cannot be read just now.
bool ReadFileBriefly(const std::wstring& path, std::string& content);

enum class Outcome { Ready, Failed, EndedWithoutRecord, TimedOut };

// Polls the state file until it holds the ready record or a failure record, or the done
// marker appears without either. Every new record is passed to `onRecord` as it is seen;
// records that come and go between two polls are simply not seen, which is fine: only
// the latest matters. For a failure, waits for the done marker too.
Outcome WaitForOutcome(const std::wstring& statePath, const std::wstring& donePath, unsigned timeoutMilliseconds,
                       const std::function<void(const std::string&, const StatusRecord&)>& onRecord,
                       StatusRecord& last);

// True when the done marker holds "done": the host has finished.
bool DoneMarkerWritten(const std::wstring& donePath);

// Waits until the done marker holds "done".
bool WaitForDoneMarker(const std::wstring& donePath, unsigned timeoutMilliseconds);
