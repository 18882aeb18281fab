// SPDX-License-Identifier: MIT
// The record files of a folder read as one archive per device: distinct records in the order the
// device stored them, the gaps between them, clock set-backs and damaged lines; and the records
// written out as CSV or JSON for other programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/record_index.h"

namespace korvel {

// The product number a record file's name carries ("...-N-hex.txt", both numbers the same value), or
// nothing when the name does not end like that.
std::optional<uint32_t> ProductFromFileName(std::string_view name);

struct ArchiveFile {
    std::string path;      // as the file system takes it (the folder joined with the relative path), or
                           // for a file of another ArchiveSource the key that source knows it by
    std::string relative;  // below the archive's folder, '/'-separated, valid UTF-8 for showing
    int64_t name_time;     // the download's start from the name, yyyymmddhhmmss; -1 when unreadable
    uint32_t product;      // the product number of the name
    size_t distinct = 0;   // the distinct records of its own valid lines, whatever the other files hold
};

// One distinct record. Two lines are the same record when their text before the checksum is the same.
struct ArchiveRecord {
    int64_t utc;        // seconds since 1970-01-01 00:00 UTC: the timestamp minus its offset
    int32_t value;      // the value, or with kTextValue the index of its text in DeviceArchive::texts
    uint32_t file;      // the first file that holds it (index into Archive::files)
    uint32_t spelling;  // the product field as written (index into DeviceArchive::spellings)
    int16_t offset;     // minutes east of UTC, as the line says
    uint8_t flags;

    static constexpr uint8_t kTextValue = 1;      // the value is no whole number of 32 bits
    static constexpr uint8_t kMinusZero = 2;      // the offset is written "-00:00"
    bool operator==(const ArchiveRecord&) const;  // same record; the file does not count
};

struct ArchiveGap {
    size_t before;    // the last record before the gap (index into DeviceArchive::records)
    size_t after;     // the first record after it
    int64_t missing;  // records that would fit between them at the usual interval
};

struct ArchiveLine {
    uint32_t file;  // index into Archive::files
    size_t line;    // counted from 1
};

struct ClockJump {
    ArchiveLine where;  // the record older than the one before it
    size_t before;      // that record and the one before it in the file (indices into records)
    size_t after;
};

struct DamagedLine {
    ArchiveLine where;
    std::string reason;   // the sentence, in English (see DamageReason)
    int8_t damage = 0;    // what is wrong, a LineDamage (records/record_line.h)
    std::string product;  // the product field as written, for a line of another product
};

// A record whose value is no number ("nan", "inf", words): kept as written, and listed.
struct NoNumberLine {
    ArchiveLine where;  // where the record was first read
    size_t record;      // index into DeviceArchive::records
};

struct UnlistedDamage {
    uint32_t file;  // index into Archive::files
    size_t lines;   // damaged lines of that file beyond the ones listed
};

struct DeviceArchive {
    uint32_t product = 0;         // as the files' names carry it
    std::vector<uint32_t> files;  // that carry its number in their name, in the order of their records
    size_t valid_lines = 0;
    std::vector<ArchiveRecord> records;  // distinct, in the order the device stored them
    size_t earliest = 0, newest = 0;     // the records of the earliest and the newest time
    std::vector<std::string> spellings;  // the product field as the lines write it
    std::vector<std::string> texts;      // values that are no whole numbers
    int64_t interval = 0;  // the usual seconds from one record to the next; 0 when no two records show one
    std::vector<ArchiveGap> gaps;
    std::vector<ClockJump> jumps;
    std::vector<DamagedLine> damaged;                  // the first 100 of each file
    std::vector<UnlistedDamage> unlisted;              // and how many more
    std::vector<std::pair<size_t, size_t>> conflicts;  // two different records of one second
    std::vector<NoNumberLine> no_number;               // each record whose value is no number, once
    std::vector<std::string> unreadable;               // its files that could not be read, with the reason

    size_t DamagedLines() const;  // listed and unlisted
    bool HasInterval() const { return interval > 0; }
    bool Complete() const {
        return gaps.empty() && jumps.empty() && damaged.empty() && conflicts.empty() && unreadable.empty();
    }
};

struct Archive {
    std::string folder;
    std::vector<ArchiveFile> files;      // the record files, in download order
    std::vector<DeviceArchive> devices;  // by product number
    std::vector<std::string> problems;   // folders or files that could not be read, with the reason
    std::vector<std::string> folders;    // the folders among them: any device may have files there

    const DeviceArchive* Find(uint32_t product) const;
    bool Complete() const;
    // The device's own completeness, and no folder left unread that might hold more of it.
    bool Complete(const DeviceArchive& device) const { return device.Complete() && folders.empty(); }
};

// Reads every record file below folder (links to folders are not followed). A device's files are put
// in the order their records say (see Merger::Reorder), so a PC clock that was wrong when a file was
// named cannot hide a gap.
Archive ReadArchive(const std::string& folder);
// As ReadArchive, reading only the record files that take accepts (each asked once, in download order).
Archive ReadArchive(const std::string& folder, const std::function<bool(const ArchiveFile&)>& take);

// Where a record file's bytes come from: the file system, or a database that keeps each file's bytes.
// Puts the file's bytes at the start of buffer (which it may enlarge and need not shrink: refilling a
// buffer of the right size writes no zeros) and their count in length, or fills problem with a sentence
// naming file.relative; called from several threads at once.
using ArchiveSource =
    std::function<void(const ArchiveFile& file, std::string& buffer, size_t& length, std::string& problem)>;
// The file system as the source: the file's bytes as they are at the time, or a problem saying why not.
void ReadFromDisk(const ArchiveFile& file, std::string& buffer, size_t& length, std::string& problem);
// As ReadArchive with take, the bytes of the files taken from source.
Archive ReadArchive(const std::string& folder, const std::function<bool(const ArchiveFile&)>& take,
                    const ArchiveSource& source);
// As ReadArchive, over files found elsewhere (in any order: they are put in download order here), their
// bytes from source. The folder is what messages name as where the files are.
Archive ReadArchive(std::string folder, std::vector<ArchiveFile> files, const ArchiveSource& source);
// The download's start a record file's name carries (yyyymmddhhmmss), or -1.
int64_t NameTimeFromFileName(std::string_view name);

// The product number as the device writes it ("0123"): its records' own field, or for a device without a
// record the number of its files' names as the device pads it to four digits. Raw text: show it escaped.
std::string ProductSpelling(const DeviceArchive& device);

// Record fields as text.
std::string RecordTimestamp(const ArchiveRecord& record);  // "2022-07-30 10:15:42+08:00", as stored
std::string RecordIsoTime(const ArchiveRecord& record);    // "2022-07-30T10:15:42+08:00"
// The record's time appended to out, with separator between date and time (' ' or 'T').
void AppendRecordTime(std::string& out, const ArchiveRecord& record, char separator);
std::string_view RecordValue(const DeviceArchive& device, const ArchiveRecord& record, std::string& scratch);
// The value as a number, or nothing when the device wrote something else.
std::optional<double> RecordNumber(const DeviceArchive& device, const ArchiveRecord& record);
// The value is a finite number (not nan, inf or words): one the plot draws and the summaries count.
bool RecordHasNumber(const DeviceArchive& device, const ArchiveRecord& record);

// A time given on the command line: "YYYY-MM-DD", "YYYY-MM-DD hh:mm[:ss]" or with a "T" between, with
// an optional "Z" or "+hh:mm" offset. Without an offset it is compared with the records' own clock time.
struct TimeBound {
    int64_t seconds;  // as UTC when has_offset, else as clock time
    bool has_offset;
};
std::optional<TimeBound> ParseTimeBound(std::string_view text, bool end_of_day);

// The records of device from `from` to `to` (both included), oldest first by UTC; records of the same
// second keep the device's order.
std::vector<size_t> ChronologicalRecords(const DeviceArchive& device, std::optional<TimeBound> from,
                                         std::optional<TimeBound> to);

// What the device probably still holds that no saved file has: the records taken since the newest saved
// one, at most `count`, the records it holds. Its ring keeps kRingRecords; the oldest of those not
// downloaded goes when that many newer are taken.
struct PendingRecords {
    int64_t records;           // not yet downloaded
    int64_t lost;              // taken since the newest saved one and already overwritten
    double days;               // until the oldest not yet downloaded is overwritten (0 when none is pending)
    int64_t seconds_left = 0;  // until the oldest not yet downloaded, or the next one taken, is overwritten
};
// The one rule, from two times in seconds on one clock (both UTC, or both the device's clock): what fleet,
// report, info and the window tell, each with the device's own usual interval. Nothing when now is
// earlier than the newest saved record (the clock was set back since).
std::optional<PendingRecords> EstimatePending(int64_t newest_saved, int64_t now, int64_t count,
                                              int64_t interval);

}  // namespace korvel
