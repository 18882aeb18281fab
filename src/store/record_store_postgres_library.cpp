// SPDX-License-Identifier: MIT
// The PQ functions the PostgreSQL store calls, each passing the call on to the library loaded by
// LoadPostgresLibrary. They keep libpq-fe.h's own declarations, so the compiler checks every one
// against the library's interface and the store calls them as it would the library itself.
#include "store/record_store_postgres_library.h"

#include <dlfcn.h>
#include <libpq-fe.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "text/failure_texts.h"

namespace korvel {
namespace {

// Every function defined at the end of this file, the ones the store and the tests call.
// clang-format off
#define KORVEL_PQ_FUNCTIONS(X) \
    X(PQclear) X(PQcmdTuples) X(PQconnectdb) X(PQconninfoFree) X(PQconninfoParse) \
    X(PQenterPipelineMode) X(PQerrorMessage) X(PQexec) X(PQexecParams) X(PQexitPipelineMode) \
    X(PQfinish) X(PQfreemem) X(PQgetResult) X(PQgetisnull) X(PQgetlength) X(PQgetvalue) \
    X(PQnfields) X(PQntuples) X(PQpipelineSync) X(PQputCopyData) X(PQputCopyEnd) \
    X(PQresultErrorField) X(PQresultErrorMessage) X(PQresultStatus) X(PQsendQueryParams) \
    X(PQsetClientEncoding) X(PQstatus)
// clang-format on

struct Functions {
#define KORVEL_PQ_POINTER(name) decltype(&::name) name = nullptr;
    KORVEL_PQ_FUNCTIONS(KORVEL_PQ_POINTER)
#undef KORVEL_PQ_POINTER
};

std::atomic<const Functions*> loaded{nullptr};
std::mutex loading;

// The store loads the library before its first call and says so when it cannot; any other caller
// (the tests' own look at the tables) has it loaded here, or learns why not as the program ends.
const Functions& Loaded() {
    if (const Functions* functions = loaded.load(std::memory_order_acquire)) return *functions;
    Failure failure;
    if (!LoadPostgresLibrary(failure)) {
        std::fprintf(stderr, "%s\n", failure.message.c_str());
        std::abort();
    }
    return *loaded.load(std::memory_order_acquire);
}

}  // namespace

bool LoadPostgresLibraryFrom(const char* library, Failure& failure) {
    const std::lock_guard<std::mutex> lock(loading);
    // RTLD_LOCAL: its names stay its own, the functions below reach it through dlsym.
    void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = ::dlerror();
        failure = {FailureKind::Absent, failure_text::PostgresLibraryMissing(library, error ? error : ""), 0};
        return false;
    }
    auto functions = std::make_unique<Functions>();
#define KORVEL_PQ_RESOLVE(name)                                                                           \
    functions->name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                        \
    if (!functions->name) {                                                                               \
        failure = {FailureKind::Other, failure_text::PostgresLibraryMissing(library, "it has no " #name), \
                   0};                                                                                    \
        ::dlclose(handle);                                                                                \
        return false;                                                                                     \
    }
    KORVEL_PQ_FUNCTIONS(KORVEL_PQ_RESOLVE)
#undef KORVEL_PQ_RESOLVE
    // The first library that loads stays for the life of the process; a later load leaves it so.
    if (loaded.load(std::memory_order_relaxed))
        ::dlclose(handle);
    else
        loaded.store(functions.release(), std::memory_order_release);
    return true;
}

bool LoadPostgresLibrary(Failure& failure) {
    if (loaded.load(std::memory_order_acquire)) return true;
    return LoadPostgresLibraryFrom(kPostgresLibrary, failure);
}

}  // namespace korvel

// libpq-fe.h declares these extern "C": the definitions take its linkage and signatures.
void PQclear(PGresult* res) { korvel::Loaded().PQclear(res); }
char* PQcmdTuples(PGresult* res) { return korvel::Loaded().PQcmdTuples(res); }
PGconn* PQconnectdb(const char* conninfo) { return korvel::Loaded().PQconnectdb(conninfo); }
void PQconninfoFree(PQconninfoOption* options) { korvel::Loaded().PQconninfoFree(options); }
PQconninfoOption* PQconninfoParse(const char* conninfo, char** errmsg) {
    return korvel::Loaded().PQconninfoParse(conninfo, errmsg);
}
int PQenterPipelineMode(PGconn* conn) { return korvel::Loaded().PQenterPipelineMode(conn); }
char* PQerrorMessage(const PGconn* conn) { return korvel::Loaded().PQerrorMessage(conn); }
PGresult* PQexec(PGconn* conn, const char* query) { return korvel::Loaded().PQexec(conn, query); }
PGresult* PQexecParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                       const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                       int resultFormat) {
    return korvel::Loaded().PQexecParams(conn, command, nParams, paramTypes, paramValues, paramLengths,
                                         paramFormats, resultFormat);
}
int PQexitPipelineMode(PGconn* conn) { return korvel::Loaded().PQexitPipelineMode(conn); }
void PQfinish(PGconn* conn) { korvel::Loaded().PQfinish(conn); }
void PQfreemem(void* ptr) { korvel::Loaded().PQfreemem(ptr); }
PGresult* PQgetResult(PGconn* conn) { return korvel::Loaded().PQgetResult(conn); }
int PQgetisnull(const PGresult* res, int row, int field) {
    return korvel::Loaded().PQgetisnull(res, row, field);
}
int PQgetlength(const PGresult* res, int row, int field) {
    return korvel::Loaded().PQgetlength(res, row, field);
}
char* PQgetvalue(const PGresult* res, int row, int field) {
    return korvel::Loaded().PQgetvalue(res, row, field);
}
int PQnfields(const PGresult* res) { return korvel::Loaded().PQnfields(res); }
int PQntuples(const PGresult* res) { return korvel::Loaded().PQntuples(res); }
int PQpipelineSync(PGconn* conn) { return korvel::Loaded().PQpipelineSync(conn); }
int PQputCopyData(PGconn* conn, const char* buffer, int nbytes) {
    return korvel::Loaded().PQputCopyData(conn, buffer, nbytes);
}
int PQputCopyEnd(PGconn* conn, const char* errormsg) { return korvel::Loaded().PQputCopyEnd(conn, errormsg); }
char* PQresultErrorField(const PGresult* res, int fieldcode) {
    return korvel::Loaded().PQresultErrorField(res, fieldcode);
}
char* PQresultErrorMessage(const PGresult* res) { return korvel::Loaded().PQresultErrorMessage(res); }
ExecStatusType PQresultStatus(const PGresult* res) { return korvel::Loaded().PQresultStatus(res); }
int PQsendQueryParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                      const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                      int resultFormat) {
    return korvel::Loaded().PQsendQueryParams(conn, command, nParams, paramTypes, paramValues, paramLengths,
                                              paramFormats, resultFormat);
}
int PQsetClientEncoding(PGconn* conn, const char* encoding) {
    return korvel::Loaded().PQsetClientEncoding(conn, encoding);
}
ConnStatusType PQstatus(const PGconn* conn) { return korvel::Loaded().PQstatus(conn); }
