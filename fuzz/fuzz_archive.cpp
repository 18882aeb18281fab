// SPDX-License-Identifier: MIT
// The archive reader on arbitrary record files, read the way `archive` reads a folder. The input is up to
// four files separated by the byte 0xFE; each goes into the scratch folder under a record file's name of
// product 123 or 456. Invariants: no crash; no more records than lines with a valid checksum; every line
// is either valid or damaged, every damaged line is listed once or counted, at most 100 listed per file;
// earliest and newest hold the least and the greatest time.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.h"
#include "fuzz_support.h"

using korvel::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvel::fuzz::ClearScratchFolder();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    static const char* kNames[] = {"240305-010000-123-7b.txt", "240305-020000-123-7b.txt",
                                   "sub/240305-010000-456-1c8.txt", "200101-000000-123-7b.txt"};
    std::vector<std::string> contents;
    for (size_t start = 0; contents.size() < 4;) {
        const size_t end = std::min(input.find('\xFE', start), input.size());
        contents.emplace_back(input.substr(start, end - start));
        if (end >= input.size()) break;
        start = end + 1;
    }
    std::filesystem::create_directories(korvel::fuzz::ScratchFolder() + "/sub");
    size_t lines = 0, checked = 0;
    for (size_t i = 0; i < contents.size(); ++i) {
        std::ofstream(korvel::fuzz::ScratchFolder() + "/" + kNames[i], std::ios::binary) << contents[i];
        std::string_view text = contents[i];
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        for (std::string_view line : korvel::fuzz::Lines(text)) {
            ++lines;
            // The reader takes the checksum's digits in either case.
            std::string lower(line);
            for (size_t k = lower.size() >= 4 ? lower.size() - 4 : 0; k < lower.size(); ++k)
                lower[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[k])));
            if (korvel::fuzz::HasValidChecksum(lower)) ++checked;
        }
    }

    const korvel::Archive archive = korvel::ReadArchive(korvel::fuzz::ScratchFolder());
    Check(archive.problems.empty());
    Check(archive.files.size() == contents.size());
    size_t valid = 0, damaged = 0;
    for (const korvel::DeviceArchive& device : archive.devices) {
        Check(device.records.size() <= device.valid_lines);
        valid += device.valid_lines;
        damaged += device.DamagedLines();
        std::set<std::pair<uint32_t, size_t>> named;
        std::vector<size_t> per_file(archive.files.size());
        for (const korvel::DamagedLine& line : device.damaged) {
            Check(named.insert({line.where.file, line.where.line}).second);
            Check(++per_file[line.where.file] <= 100);
            Check(archive.files[line.where.file].product == device.product);
        }
        for (const korvel::UnlistedDamage& more : device.unlisted) Check(per_file[more.file] == 100);
        for (const korvel::ArchiveRecord& record : device.records) {
            Check(record.utc >= device.records[device.earliest].utc);
            Check(record.utc <= device.records[device.newest].utc);
            Check(archive.files[record.file].product == device.product);
        }
        for (const korvel::ArchiveGap& gap : device.gaps) Check(gap.before < gap.after && gap.missing > 0);
        for (const auto& [a, b] : device.conflicts)
            Check(a < b && b < device.records.size() && device.records[a].utc == device.records[b].utc);
    }
    Check(valid <= checked);
    Check(valid + damaged == lines);
    return 0;
}
