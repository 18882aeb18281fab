// SPDX-License-Identifier: MIT
#include "platform/sha256.h"

#include <vector>

#include "text/cfile.h"

namespace korvel {

std::string HexOf(const unsigned char* bytes, size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex(size * 2, '0');
    for (size_t i = 0; i < size; ++i) {
        hex[2 * i] = kDigits[bytes[i] >> 4];
        hex[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    return hex;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 hash;
    hash.Update(bytes);
    return hash.HexDigest();
}

Failure Sha256File(const std::string& path, std::string& hex, uint64_t* size) {
    CFile file;
    Failure error;
    if (!file.Open(path, CFile::modeRead, &error)) return error;
    Sha256 hash;
    std::vector<char> buffer(1 << 16);
    uint64_t total = 0;
    for (;;) {
        const int64_t n = file.Read(buffer.data(), buffer.size(), &error);
        if (n < 0) return error;
        if (n == 0) break;
        hash.Update(buffer.data(), static_cast<size_t>(n));
        total += static_cast<uint64_t>(n);
    }
    hex = hash.HexDigest();
    if (hex.empty()) return Failure{FailureKind::Other, path + ": the system's SHA-256 failed; try again", 0};
    if (size) *size = total;
    return {};
}

}  // namespace korvel
