// SPDX-License-Identifier: MIT
#include "views/witness_text.h"

#include "text/civil_time.h"
#include "text/number.h"
#include "text/shown.h"

namespace korvel {
namespace {

const char* KindWord(WitnessProblem::Kind kind) {
    switch (kind) {
        case WitnessProblem::Kind::Rewritten:
            return "rewritten";
        case WitnessProblem::Kind::Truncated:
            return "truncated";
        case WitnessProblem::Kind::OtherLedger:
            return "other ledger";
        case WitnessProblem::Kind::Deleted:
            return "deleted";
        case WitnessProblem::Kind::Changed:
            break;
    }
    return "changed";
}

size_t Count(const WitnessReport& report, WitnessProblem::Kind kind) {
    size_t count = 0;
    for (const WitnessProblem& problem : report.problems) count += problem.kind == kind ? 1 : 0;
    return count;
}

}  // namespace

std::string WitnessText(const std::string& database, const WitnessReport& report) {
    std::string out = "witness: " + Shown(database) + ", " +
                      Plural(static_cast<int64_t>(report.witnessed), "entry", "entries") +
                      " received for this folder";
    if (report.unwitnessed)
        out += ", " + Plural(static_cast<int64_t>(report.unwitnessed), "entry", "entries") +
               " of the ledger not received yet (korvel-cli ingest sends them)";
    out += "\n";
    for (const WitnessProblem& p : report.problems) {
        out += "  " + std::string(KindWord(p.kind)) + ": ";
        if (p.kind == WitnessProblem::Kind::OtherLedger) {
            out += Shown(p.detail) + "; its last entry received " + ClockText(p.received_utc) + " UTC\n";
            continue;
        }
        out += Shown(p.file) + " (entry " + std::to_string(p.sequence) + " of ledger " + Shown(p.ledger_id) +
               ", received " + ClockText(p.received_utc) + " UTC): " + Shown(p.detail);
        if (p.kind == WitnessProblem::Kind::Changed && !p.old_bytes_known)
            out += "; the database keeps no copy of the bytes received to show the lines";
        out += "\n";
        for (const LedgerLineChange& change : p.changes) {
            for (size_t i = 0; i < change.recorded.size(); ++i)
                out += "    line " + std::to_string(change.recorded_from + i) +
                       " received: " + change.recorded[i] + "\n";
            for (size_t i = 0; i < change.current.size(); ++i)
                out += "    line " + std::to_string(change.current_from + i) +
                       " now:      " + change.current[i] + "\n";
        }
    }
    using Kind = WitnessProblem::Kind;
    if (report.problems.empty() && report.witnessed == 0) {
        out +=
            "witness: has received nothing of this folder yet: korvel-cli ingest with the same database "
            "sends the ledger's entries\n";
    } else if (report.problems.empty()) {
        out += "witness: agrees: " + Plural(static_cast<int64_t>(report.proven), "file", "files") +
               " as received, the ledger as received\n";
    } else {
        out +=
            "witness: disagrees: " + std::to_string(Count(report, Kind::Changed)) + " changed, " +
            std::to_string(Count(report, Kind::Deleted)) + " deleted, " +
            Plural(static_cast<int64_t>(Count(report, Kind::Rewritten)), "entry rewritten",
                   "entries rewritten") +
            ", " + std::to_string(Count(report, Kind::Truncated)) + " truncated, " +
            Plural(static_cast<int64_t>(Count(report, Kind::OtherLedger)), "other ledger", "other ledgers") +
            "; " + Plural(static_cast<int64_t>(report.proven), "file", "files") + " as received\n";
    }
    return out;
}

}  // namespace korvel
