// SPDX-License-Identifier: MIT
// PostgreSQL's client library, loaded when a --db URL first names a server: a library that is not there
// or is not libpq fails with the sentence that says what to install; the real one loads. The store's
// calls through it: tests/db/ingest_test.cpp and the other tests against a real server.
// Not on Windows: the Windows build has no database library.
#include "store/record_store_postgres_library.h"

#include <gtest/gtest.h>

#include <string>

namespace korvel::testing {
namespace {

struct Case {
    const char* library;
    bool loads;
    FailureKind kind;
    const char* reason_has;  // in the parenthesis of the sentence
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.library; }

class PostgresLibrary : public ::testing::TestWithParam<Case> {};

TEST_P(PostgresLibrary, LoadsOrSaysWhatToInstall) {
    const Case& c = GetParam();
    Failure failure;
    EXPECT_EQ(LoadPostgresLibraryFrom(c.library, failure), c.loads);
    EXPECT_EQ(failure.kind, c.kind);
    if (c.loads) return;
    const std::string start = std::string("cannot load PostgreSQL's client library ") + c.library + " (";
    EXPECT_EQ(failure.message.rfind(start, 0), 0u) << failure.message;
    EXPECT_NE(failure.message.find(c.reason_has, start.size()), std::string::npos) << failure.message;
    EXPECT_NE(
        failure.message.find("); install it (on Debian: apt install libpq5) or name a SQLite file with --db"),
        std::string::npos)
        << failure.message;
    EXPECT_EQ(failure.message.find('\n'), std::string::npos) << failure.message;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, PostgresLibrary,
    ::testing::Values(Case{"libkorvel-no-such-library.so.5", false, FailureKind::Absent,
                           "libkorvel-no-such-library"},
                      // A library that loads but is not libpq: the first function it lacks is named.
                      Case{"libc.so.6", false, FailureKind::Other, "it has no PQclear"},
                      Case{kPostgresLibrary, true, FailureKind::None, ""}));

// A failed load leaves the way open: the real library still loads after it.
TEST(PostgresLibraryOnce, AFailedLoadDoesNotStandInTheWayOfTheRealOne) {
    Failure failure;
    EXPECT_FALSE(LoadPostgresLibraryFrom("libkorvel-no-such-library.so.5", failure));
    Failure again;
    EXPECT_TRUE(LoadPostgresLibrary(again)) << again.message;
    EXPECT_FALSE(again);
}

}  // namespace
}  // namespace korvel::testing
