// SPDX-License-Identifier: MIT
// SHA-256 through OpenSSL's libcrypto (EVP).
#include <openssl/evp.h>

#include "platform/sha256.h"

namespace korvel {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    bool ok = false;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    state_->ok = state_->context && EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
    if (state_->ok && size) state_->ok = EVP_DigestUpdate(state_->context, data, size) == 1;
}

std::string Sha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!state_->ok || EVP_DigestFinal_ex(state_->context, digest, &length) != 1 || length != 32) {
        state_->ok = false;
        return {};
    }
    state_->ok = false;  // finished: a second digest would be of nothing
    return HexOf(digest, length);
}

}  // namespace korvel
