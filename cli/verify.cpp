// SPDX-License-Identifier: MIT
#include "verify.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "archive/archive.h"
#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "records/record_line.h"
#include "records/record_tree.h"
#include "text/cfile.h"
#include "text/file_system.h"
#include "text/number.h"
#include "text/shown.h"

namespace korvel::cli {
namespace {

class Verifier {
  public:
    Verifier(std::ostream& out, VerifySummary& summary) : out_(out), summary_(summary) {}

    // Paths and reasons may quote what a file or folder holds: they are shown as plain text.
    void Problem(const std::string& path, size_t line, const std::string& reason) {
        out_ << Shown(path) << ':' << line << ": " << Shown(reason) << '\n';
        ++summary_.problems;
    }
    void Problem(const std::string& path, const std::string& reason) {
        out_ << Shown(path) << ": " << Shown(reason) << '\n';
        ++summary_.problems;
    }

    void VerifyFile(const std::string& path) {
        ++summary_.files;
        const size_t separator = path.find_last_of(PathSeparators());
        const std::optional<uint32_t> product =
            ProductFromFileName(separator == std::string::npos ? path : path.substr(separator + 1));
        if (!product) {
            Problem(path, "the name does not end in -N-hex.txt, so the product number cannot be checked");
        }
        // Opened without waiting: a pipe given by name is refused, not waited on.
        CFile file;
        Failure error;
        if (!file.Open(path, CFile::modeRead, &error)) {
            Problem(path, "cannot open: " + error.reason);
            return;
        }
        std::string content;
        char chunk[65536];
        int64_t got;
        while ((got = file.Read(chunk, sizeof chunk)) > 0) content.append(chunk, static_cast<size_t>(got));
        if (got < 0) {
            Problem(path, "cannot read the whole file");
            return;
        }
        VerifyText(path, content, product);
    }

    void VerifyFolder(const std::string& folder) {
        WalkRecordTree(folder, {[](std::string_view name) { return ProductFromFileName(name).has_value(); },
                                [&](const std::string& path, const std::string&) { VerifyFile(path); },
                                [&](const std::string& path, const Failure& error) {
                                    Problem(path, std::string("cannot read the folder: ") + error.reason);
                                }});
    }

    void VerifyText(const std::string& path, std::string_view content, std::optional<uint32_t> product) {
        std::unordered_map<std::string_view, size_t> seen;  // record line → its first line number
        std::string_view previous_key;
        size_t previous_line = 0;
        size_t number = 0;
        // A byte-order mark is no part of the first line, as the download's scan skips it too.
        size_t position = content.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        RecordLineChecker checker;
        checker.ExpectProduct(product);
        while (position < content.size()) {
            const size_t newline = content.find('\n', position);
            const bool terminated = newline != std::string_view::npos;
            const size_t end = terminated ? newline : content.size();
            const std::string_view line = content.substr(position, end - position);
            position = terminated ? newline + 1 : content.size();
            ++number;
            ++summary_.lines;
            if (!terminated) Problem(path, number, "no line feed at the end: the file was cut short");

            const RecordLine record = checker.Check(line);
            if (record.damage != LineDamage::kNone) {
                Problem(path, number, DamageReason(record.damage, record.product, product.value_or(0)));
                continue;
            }
            // A value that is no number is the device's own writing: kept, told, not a damaged line.
            if (!ValueIsNumber(record.value)) {
                out_ << Shown(path) << ':' << number << ": the value \"" << Shown(record.value) << "\""
                     << " is no number (kept as written)\n";
                ++summary_.no_number;
            }
            const std::string_view body = line.substr(0, line.size() - 5);
            const std::string_view key = body.substr(0, std::min(kTimestampKeyLength, body.size()));
            if (previous_line != 0 && key < previous_key) {
                Problem(path, number,
                        "timestamp " + std::string(key) + " is earlier than line " +
                            std::to_string(previous_line) + "'s " + std::string(previous_key));
            }
            const auto [where, inserted] = seen.emplace(line, number);
            if (!inserted) Problem(path, number, "the same record as line " + std::to_string(where->second));
            previous_key = key;
            previous_line = number;
        }
    }

  private:
    std::ostream& out_;
    VerifySummary& summary_;
};

}  // namespace

VerifySummary VerifyContent(const std::string& path, std::string_view content,
                            std::optional<uint32_t> product, std::ostream& out) {
    VerifySummary summary;
    Verifier(out, summary).VerifyText(path, content, product);
    return summary;
}

VerifySummary VerifyPaths(const std::vector<std::string>& paths, std::ostream& out) {
    VerifySummary summary;
    Verifier verifier(out, summary);
    for (const std::string& path : paths) {
        if (IsDirectory(path)) {
            verifier.VerifyFolder(path);
        } else if (FileExists(path)) {
            verifier.VerifyFile(path);
        } else {
            verifier.Problem(path, "no such file or folder");
        }
    }
    out << summary.files << (summary.files == 1 ? " file, " : " files, ") << summary.lines
        << (summary.lines == 1 ? " line checked: " : " lines checked: ");
    if (summary.problems == 0) {
        out << "no problems";
    } else {
        out << summary.problems << (summary.problems == 1 ? " problem" : " problems");
    }
    if (summary.no_number)
        out << "; " << summary.no_number << (summary.no_number == 1 ? " value" : " values") << " no number";
    out << '\n';
    return summary;
}

}  // namespace korvel::cli
