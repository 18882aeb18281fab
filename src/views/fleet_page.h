// SPDX-License-Identifier: MIT
// The fleet: each recorder the database holds, what follows for it from the time now (the records it
// probably took since its newest one in the database, when the oldest of them is overwritten), and the
// page that shows them all, one HTML file with everything inline.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/record_store.h"

namespace korvel {

struct FleetStatus {
    FleetDevice device;
    bool estimated = false;   // false for a recorder with no valid record: nothing can be told
    int64_t pending = 0;      // records probably taken since the newest one in the database
    int64_t lost = 0;         // of those, already overwritten
    int64_t overwritten = 0;  // when the oldest pending one goes (UTC)
    double days_left = 0;
    bool due = false;       // overwritten within the days given, or already
    bool complete = false;  // no gaps and no damaged lines
};

// now in seconds since 1970 UTC; due_days as fleet --due takes them. The estimate is EstimatePending's,
// at the recorder's own usual interval, as report and info make it.
FleetStatus AssessFleetDevice(const FleetDevice& device, int64_t now, int due_days);

// Whether the database witnessed a ledger's entry for any of the recorders: only then do the fleet's
// text, JSON and page speak of ledgers, so that a site without ledgers sees the fleet as before.
bool AnyLedgerWitnessed(const std::vector<FleetStatus>& rows);

struct FleetPageOptions {
    std::string database;  // as RecordStore::Name() gives it
    int64_t now = 0;
    int due_days = 7;
};

std::string MakeFleetPage(const std::vector<FleetStatus>& rows, const FleetPageOptions& options);

}  // namespace korvel
