// SPDX-License-Identifier: MIT
// The real database servers for the tests: a PostgreSQL 15 started in a temporary folder on a Unix
// socket (no network), and plain queries into SQLite and PostgreSQL through their own libraries, so the
// tests look at the tables without korvel's code in between.
#pragma once

#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace korvel::testing {

class PostgresServer {
  public:
    // Starts the server; when it cannot, skip_reason() or error() says why.
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool running() const { return running_; }
    const std::string& skip_reason() const { return skip_reason_; }  // PostgreSQL is not installed
    const std::string& error() const { return error_; }              // it is, but did not start

    // A new, empty database; its URL, with the password given (the right one by default).
    std::string CreateDatabase(const std::string& name);
    std::string Url(const std::string& database, const std::string& password = kPassword) const;
    const std::string& socket_folder() const { return folder_.path(); }

    static constexpr const char* kPassword = "korvel-test-secret";

  private:
    std::string bin_;
    TempFolder folder_;
    std::string as_user_;  // the command prefix that drops root, or empty
    bool running_ = false;
    std::string skip_reason_;
    std::string error_;
};

// A database a case runs against, "sqlite" (url: the file) or "postgresql", queried as below.
struct TestDatabase {
    std::string kind, url;
    std::vector<std::string> Query(const std::string& sql) const;
    bool sqlite() const { return kind == "sqlite"; }
};

// Rows of a query, each row's fields joined by '|'; a failure becomes one row "ERROR: ...".
std::vector<std::string> PostgresQuery(const std::string& url, const std::string& sql);
std::vector<std::string> SqliteQuery(const std::string& path, const std::string& sql);
// Runs statements in a SQLite file; the library's error message, or empty.
std::string SqliteExec(const std::string& path, const std::string& sql);
// The one field of a one-row, one-column query, as a number (-1 on failure).
long long PostgresNumber(const std::string& url, const std::string& sql);
long long SqliteNumber(const std::string& path, const std::string& sql);

}  // namespace korvel::testing
