// SPDX-License-Identifier: MIT
// SHA-256 through OpenSSL's libcrypto, by its SHA-256 functions themselves: the EVP interface would start
// OpenSSL's provider machinery (its configuration, algorithm tables), which costs every download about
// 2 MB of resident memory for the one algorithm used here. Those functions are marked deprecated since
// OpenSSL 3.0, yet kept and maintained; OPENSSL_API_COMPAT asks for them without the warning.
#define OPENSSL_API_COMPAT 0x10101000L
#include <openssl/sha.h>

#include "platform/sha256.h"

namespace korvel {

struct Sha256::State {
    SHA256_CTX context;
    bool ok = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { state_->ok = SHA256_Init(&state_->context) == 1; }

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
    if (state_->ok && size) state_->ok = SHA256_Update(&state_->context, data, size) == 1;
}

std::string Sha256::HexDigest() {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    if (!state_->ok || SHA256_Final(digest, &state_->context) != 1) {
        state_->ok = false;
        return {};
    }
    state_->ok = false;  // finished: a second digest would be of nothing
    return HexOf(digest, sizeof digest);
}

}  // namespace korvel
