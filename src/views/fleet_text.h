// SPDX-License-Identifier: MIT
// The fleet for a terminal and for other programs: a paragraph per recorder (fleet) or one JSON array
// (fleet --json). Every text from the database, a database or host name, is shown plain (text/shown.h),
// as the page shows it (views/fleet_page.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "views/fleet_page.h"

namespace korvel {

// database: as RecordStore::Name() gives it; now in seconds since 1970 UTC, as the rows were assessed
// with; due_days as fleet --due takes them. Ends with the line that counts the recorders.
std::string FleetText(const std::string& database, const std::vector<FleetStatus>& rows, int64_t now,
                      int due_days);

// One object per recorder, indented by two, without a line end; times as "YYYY-MM-DDThh:mm:ssZ", and
// null for what is not known.
std::string FleetJson(const std::vector<FleetStatus>& rows);

}  // namespace korvel
