// The records behind one lock: every request reads or changes them in one transaction, so two
// requests that name the same new folder at the same moment cannot both create it.
#pragma once

#include <mutex>
#include <string>

#include "Records.h"
#include "SqliteDb.h"

namespace standin {

class Store {
public:
    Store() : m_records(m_db) {}

    // Opens (creating when needed) the database in WAL mode.
    void Open(const std::string& strPath);

    // Runs fn(Records&) inside BEGIN IMMEDIATE; commits when it returns true, rolls back when
    // it returns false or throws.
    template <typename Fn>
    bool Transact(Fn fn) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_db.Exec("BEGIN IMMEDIATE");
        bool bCommit = false;
        try {
            bCommit = fn(m_records);
        } catch (...) {
            m_db.Exec("ROLLBACK");
            throw;
        }
        m_db.Exec(bCommit ? "COMMIT" : "ROLLBACK");
        return bCommit;
    }

    // Reads under the lock, without a transaction of its own.
    template <typename Fn>
    auto Read(Fn fn) -> decltype(fn(std::declval<Records&>())) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return fn(m_records);
    }

private:
    std::mutex m_mutex;
    SqliteDb m_db;
    Records m_records;
};

}  // namespace standin
