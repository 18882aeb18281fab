// SPDX-License-Identifier: MIT
#include "views/fleet_text.h"

#include <sstream>

#include "nlohmann/json.hpp"
#include "text/civil_time.h"
#include "text/number.h"
#include "text/shown.h"

namespace korvel {

std::string FleetJson(const std::vector<FleetStatus>& rows) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FleetStatus& row : rows) {
        const FleetDevice& d = row.device;
        nlohmann::ordered_json j;
        auto known = [&](auto value) { return row.estimated ? nlohmann::ordered_json(value) : nullptr; };
        j["product"] = d.product;
        j["records"] = d.records;
        j["first"] = d.records ? nlohmann::ordered_json(UtcText(d.first_utc)) : nullptr;
        j["newest"] = d.records ? nlohmann::ordered_json(UtcText(d.last_utc)) : nullptr;
        j["interval_seconds"] = d.interval > 0 ? nlohmann::ordered_json(d.interval) : nullptr;
        j["last_ingest"] = d.ingested_utc ? nlohmann::ordered_json(UtcText(*d.ingested_utc)) : nullptr;
        j["last_ingest_host"] = Shown(d.ingested_host);
        j["pending"] = known(row.pending);
        j["lost"] = known(row.lost);
        j["overwritten"] = known(UtcText(row.overwritten));
        j["due"] = row.due;
        j["complete"] = row.complete;
        j["gaps"] = d.gaps;
        j["missing"] = d.missing;
        j["damaged_lines"] = d.damaged;
        list.push_back(std::move(j));
    }
    return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string FleetText(const std::string& database, const std::vector<FleetStatus>& rows, int64_t now,
                      int due_days) {
    std::ostringstream out;
    out << "database: " << Shown(database) << '\n';
    size_t due = 0, incomplete = 0;
    for (const FleetStatus& row : rows) {
        const FleetDevice& d = row.device;
        out << "product " << d.product << '\n';
        if (d.records) {
            out << "  records: " << d.records << " from " << UtcText(d.first_utc) << " to "
                << UtcText(d.last_utc)
                << (d.interval > 0 ? ", one every " + std::to_string(d.interval) + " s\n"
                                   : ", no usual interval yet\n");
        } else {
            out << "  records: 0 (no line of its files is valid)\n";
        }
        out << "  last ingest: "
            << (d.ingested_utc ? UtcText(*d.ingested_utc) + " from " + Shown(d.ingested_host)
                               : std::string("never"))
            << '\n';
        if (row.estimated) {
            out << "  not yet downloaded: about " << Plural(row.pending, "record", "records");
            if (row.lost > 0) out << " (" << row.lost << " more already overwritten)";
            out << "; the oldest is overwritten " << (row.overwritten <= now ? "already: " : "at ")
                << UtcText(row.overwritten) << (row.due ? " (due)" : "") << '\n';
        } else {
            out << (d.records ? "  not yet downloaded: unknown, no usual interval to count with\n"
                              : "  not yet downloaded: unknown, no valid record to count from\n");
        }
        out << "  gaps: " << d.gaps << " (" << Plural(d.missing, "record", "records") << " missing)"
            << ", damaged lines: " << d.damaged << '\n';
        due += row.due ? 1 : 0;
        incomplete += row.complete ? 0 : 1;
    }
    out << Plural(static_cast<int64_t>(rows.size()), "recorder", "recorders") << ", " << due << " due within "
        << Plural(due_days, "day", "days") << ", " << incomplete << " incomplete\n";
    return out.str();
}

}  // namespace korvel
