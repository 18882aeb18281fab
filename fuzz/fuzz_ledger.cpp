// SPDX-License-Identifier: MIT
// The ledger's line reader on arbitrary lines: a line it takes is written back by the ledger's own writer
// into a line it takes again as the same entry, and no field it writes can hold a separator; any text
// given to the field writer comes out as plain, well-formed UTF-8 without TAB or LF.
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "ledger/ledger.h"
#include "text/utf8.h"

using korvel::fuzz::Check;

namespace {

bool SameEntry(const korvel::LedgerEntry& a, const korvel::LedgerEntry& b) {
    return a.sequence == b.sequence && a.kind == b.kind && a.utc_time == b.utc_time &&
           a.pc_clock == b.pc_clock && a.host == b.host && a.product == b.product && a.file == b.file &&
           a.size == b.size && a.sha256 == b.sha256 && a.first_key == b.first_key &&
           a.last_key == b.last_key && a.records == b.records && a.previous == b.previous && a.hash == b.hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string field = korvel::LedgerField(text);
    Check(field.find('\t') == std::string::npos && field.find('\n') == std::string::npos);
    Check(korvel::IsValidUtf8(field.c_str()) &&
          field.size() == std::char_traits<char>::length(field.c_str()));

    // The reader hands the parser one line at a time, without its LF.
    const std::string line = text.substr(0, text.find('\n'));
    korvel::LedgerEntry entry;
    std::string why;
    if (!korvel::ParseLedgerLine(line, entry, why)) {
        Check(!why.empty());
        return 0;
    }
    const std::string written = korvel::LedgerEntryText(entry) + "\t" + entry.hash;
    Check(written.find('\n') == std::string::npos);
    korvel::LedgerEntry again;
    why.clear();
    if (!korvel::ParseLedgerLine(written, again, why))
        std::fprintf(stderr, "written back: %s\nnot taken again: %s\n", written.c_str(), why.c_str());
    Check(why.empty() && SameEntry(entry, again));
    return 0;
}
