// SPDX-License-Identifier: MIT
#include "support/databases.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

int Run(const std::string& command) { return std::system(command.c_str()); }

}  // namespace

PostgresServer::PostgresServer() {
    for (const char* bin : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin"}) {
        if (fs::exists(std::string(bin) + "/pg_ctl") && fs::exists(std::string(bin) + "/initdb")) {
            bin_ = bin;
            break;
        }
    }
    if (bin_.empty()) {
        skip_reason_ = "PostgreSQL's initdb and pg_ctl are not installed (Debian package postgresql-15)";
        return;
    }
    if (folder_.path().empty()) {
        error_ = "no temporary folder";
        return;
    }
    // PostgreSQL refuses to run as root; then the server runs as nobody in a folder nobody owns.
    if (::geteuid() == 0) {
        if (::chown(folder_.path().c_str(), 65534, 65534) != 0) {
            error_ = "cannot give the server's folder to nobody";
            return;
        }
        as_user_ = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const std::string& dir = folder_.path();
    {
        std::ofstream(dir + "/pwfile") << kPassword << '\n';
        if (!as_user_.empty() && ::chown((dir + "/pwfile").c_str(), 65534, 65534) != 0) {
            error_ = "cannot give the password file to nobody";
            return;
        }
    }
    const std::string log = dir + "/server.log";
    const std::string init = "cd " + Quoted(dir) + " && " + as_user_ + Quoted(bin_ + "/initdb") + " -D " +
                             Quoted(dir + "/data") + " -U korvel --pwfile=" + Quoted(dir + "/pwfile") +
                             " --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >" +
                             Quoted(dir + "/initdb.log") + " 2>&1";
    if (Run(init) != 0) {
        error_ = "initdb failed; see " + dir + "/initdb.log";
        return;
    }
    // No TCP at all, only the socket in the private folder; fsync off: the tests kill clients, not the
    // server, and need no durability across a power cut.
    const std::string start = "cd " + Quoted(dir) + " && " + as_user_ + Quoted(bin_ + "/pg_ctl") + " -D " +
                              Quoted(dir + "/data") + " -l " + Quoted(log) +
                              " -w -t 60 -o \"-c listen_addresses='' -k " + dir +
                              " -c fsync=off -c max_connections=40\" start >/dev/null 2>&1";
    if (Run(start) != 0) {
        error_ = "pg_ctl start failed; see " + log;
        return;
    }
    running_ = true;
}

PostgresServer::~PostgresServer() {
    if (!running_) return;
    Run("cd " + Quoted(folder_.path()) + " && " + as_user_ + Quoted(bin_ + "/pg_ctl") + " -D " +
        Quoted(folder_.path() + "/data") + " -m immediate -w stop >/dev/null 2>&1");
}

std::string PostgresServer::Url(const std::string& database, const std::string& password) const {
    return "postgresql://korvel:" + password + "@/" + database + "?host=" + folder_.path();
}

std::string PostgresServer::CreateDatabase(const std::string& name) {
    PostgresQuery(Url("postgres"), "CREATE DATABASE " + name);
    return Url(name);
}

std::vector<std::string> PostgresQuery(const std::string& url, const std::string& sql) {
    PGconn* connection = PQconnectdb(url.c_str());
    std::vector<std::string> rows;
    if (PQstatus(connection) != CONNECTION_OK) {
        rows.push_back(std::string("ERROR: ") + PQerrorMessage(connection));
        PQfinish(connection);
        return rows;
    }
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        rows.push_back(std::string("ERROR: ") + PQresultErrorMessage(result));
    } else {
        for (int r = 0; r < PQntuples(result); ++r) {
            std::string row;
            for (int c = 0; c < PQnfields(result); ++c)
                row += (c ? "|" : "") + std::string(PQgetvalue(result, r, c));
            rows.push_back(row);
        }
    }
    PQclear(result);
    PQfinish(connection);
    return rows;
}

std::vector<std::string> TestDatabase::Query(const std::string& sql) const {
    return sqlite() ? SqliteQuery(url, sql) : PostgresQuery(url, sql);
}

std::vector<std::string> SqliteQuery(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        rows.push_back(std::string("ERROR: ") + sqlite3_errmsg(db));
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        rows.push_back(std::string("ERROR: ") + sqlite3_errmsg(db));
    } else {
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                row += (c ? "|" : "") + std::string(text ? text : "");
            }
            rows.push_back(row);
        }
        if (step != SQLITE_DONE) rows.push_back(std::string("ERROR: ") + sqlite3_errmsg(db));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

std::string SqliteExec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string error;
    char* message = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
    } else if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : "failed";
    }
    sqlite3_free(message);
    sqlite3_close(db);
    return error;
}

namespace {
long long Number(const std::vector<std::string>& rows) {
    if (rows.size() != 1 || rows[0].empty() || rows[0].rfind("ERROR", 0) == 0) return -1;
    return std::atoll(rows[0].c_str());
}
}  // namespace

long long PostgresNumber(const std::string& url, const std::string& sql) {
    return Number(PostgresQuery(url, sql));
}
long long SqliteNumber(const std::string& path, const std::string& sql) {
    return Number(SqliteQuery(path, sql));
}

}  // namespace korvel::testing
