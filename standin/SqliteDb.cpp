// SQLite connection and statement wrappers.
#include "SqliteDb.h"

namespace standin {

SqliteDb::~SqliteDb() {
    for (auto& entry : m_idleStatements)
        for (sqlite3_stmt* pStmt : entry.second)
            sqlite3_finalize(pStmt);
    if (m_pDb)
        sqlite3_close_v2(m_pDb);
}

void SqliteDb::Open(const std::string& strPath) {
    int nRc = sqlite3_open_v2(strPath.c_str(), &m_pDb,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                              nullptr);
    if (nRc != SQLITE_OK)
        throw DbError("cannot open " + strPath + ": " + sqlite3_errstr(nRc));
    sqlite3_busy_timeout(m_pDb, 5000);
}

void SqliteDb::Exec(const std::string& strSql) {
    char* pError = nullptr;
    if (sqlite3_exec(m_pDb, strSql.c_str(), nullptr, nullptr, &pError) != SQLITE_OK) {
        std::string strError = pError ? pError : "unknown error";
        sqlite3_free(pError);
        throw DbError(strError + " in: " + strSql);
    }
}

sqlite3_stmt* SqliteDb::TakeStatement(const char* pSql) {
    auto it = m_idleStatements.find(pSql);
    if (it != m_idleStatements.end() && !it->second.empty()) {
        sqlite3_stmt* pStmt = it->second.back();
        it->second.pop_back();
        return pStmt;
    }
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare_v3(m_pDb, pSql, -1, SQLITE_PREPARE_PERSISTENT, &pStmt, nullptr) !=
        SQLITE_OK)
        throw DbError(std::string(sqlite3_errmsg(m_pDb)) + " in: " + pSql);
    return pStmt;
}

void SqliteDb::ReturnStatement(sqlite3_stmt* pStmt) {
    // a failed step's error was thrown already; reset repeats it
    sqlite3_reset(pStmt);
    sqlite3_clear_bindings(pStmt);
    m_idleStatements[sqlite3_sql(pStmt)].push_back(pStmt);
}

Statement::Statement(SqliteDb& db, const char* pSql) : m_db(db) {
    m_pStmt = db.TakeStatement(pSql);
}

Statement::~Statement() {
    m_db.ReturnStatement(m_pStmt);
}

Statement& Statement::Bind(int nIndex, long long nValue) {
    if (sqlite3_bind_int64(m_pStmt, nIndex, nValue) != SQLITE_OK)
        throw DbError(sqlite3_errmsg(m_db.Handle()));
    return *this;
}

Statement& Statement::Bind(int nIndex, const std::string& strValue) {
    if (sqlite3_bind_text(m_pStmt, nIndex, strValue.data(), static_cast<int>(strValue.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        throw DbError(sqlite3_errmsg(m_db.Handle()));
    return *this;
}

bool Statement::Step() {
    int nRc = sqlite3_step(m_pStmt);
    if (nRc == SQLITE_ROW)
        return true;
    if (nRc == SQLITE_DONE)
        return false;
    throw DbError(sqlite3_errmsg(m_db.Handle()));
}

void Statement::Run() {
    while (Step()) {
    }
}

long long Statement::Int(int nColumn) const {
    return sqlite3_column_int64(m_pStmt, nColumn);
}

std::string Statement::Text(int nColumn) const {
    const unsigned char* pText = sqlite3_column_text(m_pStmt, nColumn);
    int nBytes = sqlite3_column_bytes(m_pStmt, nColumn);
    return pText ? std::string(reinterpret_cast<const char*>(pText), static_cast<size_t>(nBytes))
                 : std::string();
}

}  // namespace standin
