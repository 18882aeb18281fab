// SPDX-License-Identifier: MIT
// The system's SHA-256 against the examples published with the standard (FIPS 180-2, appendix B, and
// the "one million a" message), whole, in uneven pieces and from a file.
#include <gtest/gtest.h>

#include <string>

#include "platform/sha256.h"
#include "support/temp_folder.h"

namespace korvel {
namespace {

struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};

const Vector kVectors[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"a million a", std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, PublishedVectorsWholeInPiecesAndFromAFile) {
    testing::TempFolder folder;
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(Sha256Hex(v.message), v.digest);

        Sha256 pieces;  // pieces of 1, 2, 3, ... bytes, across the 64-byte blocks
        for (size_t at = 0, size = 1; at < v.message.size(); at += size, ++size)
            pieces.Update(std::string_view(v.message).substr(at, size));
        EXPECT_EQ(pieces.HexDigest(), v.digest);

        const std::string path = folder.Write("message", v.message);
        std::string hex;
        uint64_t size = 0;
        ASSERT_FALSE(Sha256File(path, hex, &size));
        EXPECT_EQ(hex, v.digest);
        EXPECT_EQ(size, v.message.size());
    }
}

TEST(Sha256, AFileThatCannotBeReadIsAFailureNamingIt) {
    testing::TempFolder folder;
    std::string hex;
    const Failure failure = Sha256File(folder / "absent.txt", hex);
    EXPECT_EQ(failure.kind, FailureKind::Absent);
    EXPECT_NE(failure.message.find("absent.txt"), std::string::npos) << failure.message;
    EXPECT_TRUE(hex.empty());
}

}  // namespace
}  // namespace korvel
