// The reliability campaigns. Each runs its items, notes every faulty one as it happens, and
// adds its figures to the table.
#pragma once

#include "campaign.h"

// Host runs with the stand-in core, each ended one way: processes left behind, done markers
// missing, state files that are not one complete record.
void RunHostEndings(Campaign& campaign);

// Proxy enables and restores killed at random moments, each followed by a restore: user
// settings lost or changed, through the WinINet stand-in.
void RunProxyKills(Campaign& campaign);

// Sixteen enables at once on one proxy state file: rounds with other than exactly one success.
void RunEnableRaces(Campaign& campaign);

// A connection's logon restore run after a later connection on its path: later connections changed.
void RunStaleLogons(Campaign& campaign);

// Mutated proxy state files decoded in this process: crashes, and anything that is neither an
// exact round trip nor a refusal with error 13.
void RunSnapshotDecoding(Campaign& campaign);

// Host runs while client threads read the state file and the done marker as whole-file readers
// of common runtimes do: final records and done markers lost, and what a held file costs.
void RunStateFileReaders(Campaign& campaign);

// Every Windows call the helper imports, failed in turn through the injected helper, per
// scenario and call site: endings that are not sound (hangs, crashes, records, markers, cores,
// proxy settings or snapshots lost).
void RunCallFailures(Campaign& campaign);
// A fixed few of those, for the tests.
void RunCallFailureSample(Campaign& campaign);
