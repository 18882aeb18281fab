// SPDX-License-Identifier: MIT
// SHA-256 through Windows' CNG (bcrypt.dll, from Windows Vista on): an algorithm provider opened once per
// process, a hash object per Sha256.
#include <windows.h>
// bcrypt.h needs windows.h first.
#include <bcrypt.h>

#include "platform/sha256.h"

namespace korvel {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

BCRYPT_ALG_HANDLE Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        return Succeeded(BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ? handle
                                                                                                    : nullptr;
    }();
    return provider;
}

}  // namespace

struct Sha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
    ~State() {
        if (hash) BCryptDestroyHash(hash);
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    const BCRYPT_ALG_HANDLE provider = Provider();
    state_->ok = provider && Succeeded(BCryptCreateHash(provider, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (state_->ok && size) {
        const ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        state_->ok = Succeeded(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), part, 0));
        bytes += part;
        size -= part;
    }
}

std::string Sha256::HexDigest() {
    unsigned char digest[32];
    if (!state_->ok || !Succeeded(BCryptFinishHash(state_->hash, digest, sizeof digest, 0))) {
        state_->ok = false;
        return {};
    }
    state_->ok = false;
    return HexOf(digest, sizeof digest);
}

}  // namespace korvel
