// SPDX-License-Identifier: MIT
// The archive check on arbitrary file contents. Its report is plain text (no control characters but
// the line ends, well-formed UTF-8), one line a problem; every line it passes is one the scan accepts;
// and a file the tool itself would write passes without a problem.
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "records/scan.h"
#include "text/utf8.h"
#include "verify.h"

using korvel::fuzz::Check;

namespace {

bool IsPlainReport(const std::string& report) {
    for (char c : report) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && c != '\n') || b == 0x7F) return false;
    }
    return korvel::IsValidUtf8(report.c_str()) && report.find("\xC2\x80") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::optional<uint32_t> product = (data[0] & 1) ? std::optional<uint32_t>(1234) : std::nullopt;

    std::ostringstream out;
    const korvel::cli::VerifySummary summary =
        korvel::cli::VerifyContent("f-1234-4d2.txt", content, product, out);
    const std::string report = out.str();
    Check(IsPlainReport(report));
    size_t report_lines = 0;
    for (char c : report) report_lines += c == '\n';
    Check(report_lines == summary.problems);
    // A byte-order mark at the start is no part of the first line: a file of the mark alone has none.
    const std::string_view body =
        std::string_view(content).starts_with("\xEF\xBB\xBF") ? std::string_view(content).substr(3) : content;
    Check(summary.lines == korvel::fuzz::Lines(body).size());

    // A line of the file without a problem of its own is one the scan takes as valid. (A problem that
    // only compares with other lines, order or repetition, does not make the line itself invalid.)
    size_t number = 0;
    for (std::string_view line : korvel::fuzz::Lines(body)) {
        ++number;
        if (report.find(":" + std::to_string(number) + ": ") != std::string::npos) continue;
        if (!product || !korvel::IsValidUtf8(std::string(line).c_str())) continue;
        Check(!korvel::ValidateRecordLine(korvel::Utf8ToWide(line), 1234).empty());
    }

    // Lines built the way the tool stores them, keys rising, pass without a problem.
    if (data[0] & 2) {
        std::string file;
        for (size_t i = 0; i < content.size() && i < 50; ++i) {
            char text[64];
            std::snprintf(text, sizeof text, "2024-03-05 07:%02zu:%02u+08:00 %u 1234", i, data[1 + i] % 60u,
                          static_cast<unsigned>(data[1 + i]));
            char crc[8];
            std::snprintf(crc, sizeof crc, " %04x\n", korvel::fuzz::ModbusCrc(text));
            file += std::string(text) + crc;
        }
        std::ostringstream clean;
        Check(korvel::cli::VerifyContent("f-1234-4d2.txt", file, 1234, clean).problems == 0);
    }
    return 0;
}
