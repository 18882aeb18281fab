// SPDX-License-Identifier: MIT
// Writes a folder of record files as incremental downloads leave them, for the archive benchmarks:
//   archive_fixture DIR FILES LINES PRODUCTS
// File k of a product holds its records k*(LINES-1) .. k*(LINES-1)+LINES-1, 121 s apart, so each file
// repeats the last record of the one before; the files go round the products in turn.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "protocol/crc16.h"

namespace {

struct Clock {
    int year, month, day, hour, minute, second;
};

Clock ClockAt(long long seconds) {
    using namespace std::chrono;
    const sys_days days{
        floor<std::chrono::days>(sys_seconds{std::chrono::seconds{seconds}}).time_since_epoch()};
    const year_month_day date{days};
    const long long rest = seconds - days.time_since_epoch().count() * 86400LL;
    return {int(date.year()), int(unsigned(date.month())), int(unsigned(date.day())),
            int(rest / 3600), int(rest / 60 % 60),         int(rest % 60)};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: archive_fixture DIR FILES LINES PRODUCTS\n");
        return 2;
    }
    const std::string dir = argv[1];
    const long files = std::atol(argv[2]), lines = std::atol(argv[3]), products = std::atol(argv[4]);
    const long long base = 1577836800;  // 2020-01-01 00:00:00
    std::string bytes;
    for (long f = 0; f < files; ++f) {
        const long product = 100 + f % products;
        const long k = f / products;
        bytes.clear();
        long long last = 0;
        for (long i = 0; i < lines; ++i) {
            const long long seq = k * (lines - 1) + i;
            last = base + seq * 121;
            const Clock c = ClockAt(last);
            char text[80];
            const int n =
                std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d+08:00 %lld %04ld", c.year,
                              c.month, c.day, c.hour, c.minute, c.second, seq % 600, product);
            char line[100];
            const int m = std::snprintf(line, sizeof line, "%s %04x\n", text,
                                        korvel::Crc16(reinterpret_cast<const uint8_t*>(text), n));
            bytes.append(line, static_cast<size_t>(m));
        }
        const Clock c = ClockAt(last + 60);
        char name[128];
        std::snprintf(name, sizeof name, "%s/%u%02d%02d-%02d%02d%02d-%ld-%lx.txt", dir.c_str(),
                      c.year - 2000u, c.month, c.day, c.hour, c.minute, c.second, product, product);
        FILE* out = std::fopen(name, "wb");
        if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
            std::fclose(out) != 0) {
            std::perror(name);
            return 1;
        }
    }
    return 0;
}
