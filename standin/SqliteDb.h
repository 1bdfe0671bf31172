// A thin RAII layer over SQLite: one connection, prepared statements, errors as exceptions
// (caught at the request boundary).
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace standin {

class DbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SqliteDb {
public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    void Open(const std::string& strPath);
    void Exec(const std::string& strSql);
    long long LastInsertId() const { return sqlite3_last_insert_rowid(m_pDb); }
    int Changes() const { return sqlite3_changes(m_pDb); }
    sqlite3* Handle() const { return m_pDb; }

    // Prepared statements are kept and handed out again by their SQL text: preparing one costs
    // more than running the short statements a request makes. A statement already in use (a
    // nested one with the same text) gets a fresh one.
    sqlite3_stmt* TakeStatement(const char* pSql);
    void ReturnStatement(sqlite3_stmt* pStmt);

private:
    sqlite3* m_pDb = nullptr;
    std::unordered_map<std::string, std::vector<sqlite3_stmt*>> m_idleStatements;
};

class Statement {
public:
    Statement(SqliteDb& db, const char* pSql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters are numbered from 1, in the order the SQL text names them.
    Statement& Bind(int nIndex, long long nValue);
    Statement& Bind(int nIndex, const std::string& strValue);
    // True while a row is available.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();
    long long Int(int nColumn) const;
    std::string Text(int nColumn) const;

private:
    SqliteDb& m_db;
    sqlite3_stmt* m_pStmt = nullptr;
};

}  // namespace standin
