// Opening the stand-in's database.
#include "Store.h"

namespace standin {

void Store::Open(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_db.Open(strPath);
    m_db.Exec("PRAGMA journal_mode=WAL");
    // WAL with NORMAL survives a killed process; only a machine crash can lose the last commits
    m_db.Exec("PRAGMA synchronous=NORMAL");
    m_db.Exec("PRAGMA foreign_keys=ON");
    m_db.Exec("BEGIN IMMEDIATE");
    m_records.CreateSchema();
    m_records.RebuildUsage();
    m_db.Exec("COMMIT");
}

}  // namespace standin
