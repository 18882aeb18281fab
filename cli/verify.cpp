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

#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "records/archive.h"
#include "text/cfile.h"
#include "text/file_system.h"
#include "text/number.h"

namespace korvel::cli {
namespace {

std::string Hex4(unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04x", value & 0xFFFFu);
    return buffer;
}

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
            Problem(path, std::string("cannot open: ") +
                              (error.code == EINVAL ? "not a regular file" : std::strerror(error.code)));
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

    // The same walk as the scan's and the archive's, so verify checks the files a download finds.
    void VerifyFolder(const std::string& folder) {
        WalkFolder(
            folder,
            [&](const std::string& path, const std::string& name) {
                if (ProductFromFileName(name)) VerifyFile(path);
            },
            [&](const std::string& unreadable, const Failure& error) {
                Problem(unreadable, std::string("cannot read the folder: ") + std::strerror(error.code));
            });
    }

    void VerifyText(const std::string& path, std::string_view content, std::optional<uint32_t> product) {
        std::unordered_map<std::string_view, size_t> seen;  // record line → its first line number
        std::string_view previous_key;
        size_t previous_line = 0;
        size_t number = 0;
        size_t position = 0;
        while (position < content.size()) {
            const size_t newline = content.find('\n', position);
            const bool terminated = newline != std::string_view::npos;
            const size_t end = terminated ? newline : content.size();
            const std::string_view line = content.substr(position, end - position);
            position = terminated ? newline + 1 : content.size();
            ++number;
            ++summary_.lines;
            if (!terminated) Problem(path, number, "no line feed at the end: the file was cut short");

            if (line.empty()) {
                Problem(path, number, "empty line");
                continue;
            }
            if (line.back() == '\r') {
                Problem(path, number, "the line ends in CR; record lines end in LF alone");
                continue;
            }
            const auto split = SplitChecksum(line);
            if (!split) {
                Problem(path, number, "too short for a record line");
                continue;
            }
            const std::string_view body = split->text;
            const std::string_view digits = split->digits;
            if (split->separator != ' ') {
                Problem(path, number, "no space before the checksum");
                continue;
            }
            const unsigned expected = split->Expected();
            if (!std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigitValue(c) >= 0; })) {
                Problem(path, number,
                        "the checksum \"" + std::string(digits) + "\" is not four hexadecimal digits");
                continue;
            }
            const unsigned actual = Crc16(body);
            if (actual != expected) {
                Problem(path, number,
                        "checksum mismatch: the line says " + std::string(digits) + ", its text gives " +
                            Hex4(actual));
                continue;
            }
            const size_t space = body.rfind(' ');
            if (space == std::string_view::npos) {
                Problem(path, number, "no product number field");
                continue;
            }
            const std::string_view field = body.substr(space + 1);
            if (product && static_cast<uint32_t>(ToInt(field)) != *product) {
                Problem(path, number,
                        "product number " + std::string(field) + " is not the file's " +
                            std::to_string(*product));
                continue;
            }
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

// The length of the well-formed UTF-8 sequence at the start of bytes, 0 when there is none.
size_t SequenceLength(std::string_view bytes) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = b(0);
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || bytes.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
    }
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if (lead == 0xE0 && b(1) < 0xA0) return 0;
    if (lead == 0xED && b(1) >= 0xA0) return 0;
    if (lead == 0xF0 && b(1) < 0x90) return 0;
    if (lead == 0xF4 && b(1) >= 0x90) return 0;
    return length;
}

}  // namespace

std::string Shown(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = SequenceLength(bytes);
        const auto lead = static_cast<unsigned char>(bytes[0]);
        // C0 controls, DEL, and C1 controls (U+0080..U+009F, encoded C2 80..C2 9F).
        const bool control = length == 1
                                 ? lead < 0x20 || lead == 0x7F
                                 : length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[1]) < 0xA0;
        if (length != 0 && !control) {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
            continue;
        }
        const size_t escaped = length == 0 ? 1 : length;
        for (size_t i = 0; i < escaped; ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(bytes[i]));
            out += hex;
        }
        bytes.remove_prefix(escaped);
    }
    return out;
}

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
        out << "no problems\n";
    } else {
        out << summary.problems << (summary.problems == 1 ? " problem\n" : " problems\n");
    }
    return summary;
}

}  // namespace korvel::cli
