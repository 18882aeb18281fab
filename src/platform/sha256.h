// SPDX-License-Identifier: MIT
// SHA-256 from the system's own cryptography (libcrypto on Linux, CNG on Windows): the ledger's hash of
// record files and of its entries. Digests are written as 64 lower-case hex digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "text/failure.h"

namespace korvel {

// An incremental hash: Update with the bytes in order, then HexDigest once.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t size);
    void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
    // The digest of every byte given; empty when the system's library failed (never a wrong digest).
    std::string HexDigest();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of bytes; empty when the system's library failed.
std::string Sha256Hex(std::string_view bytes);

// The digest of the file at path (UTF-8) and its size; a failure names the file.
Failure Sha256File(const std::string& path, std::string& hex, uint64_t* size = nullptr);

// Lower-case hex of bytes.
std::string HexOf(const unsigned char* bytes, size_t size);

}  // namespace korvel
