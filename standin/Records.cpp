// SQL for the stand-in's records.
#include "Records.h"

#include <ctime>

namespace standin {

namespace {

long long Now() {
    return static_cast<long long>(time(nullptr));
}

void ReadUpload(const Statement& st, Upload& upload) {
    upload.strPickCode = st.Text(0);
    upload.nUserId = st.Int(1);
    upload.nFolderId = st.Int(2);
    upload.strFileName = st.Text(3);
    upload.nFileSize = st.Int(4);
    upload.strFileId = st.Text(5);
    upload.strQuickId = st.Text(6);
    upload.strUploadKey = st.Text(7);
    upload.nEts = st.Int(8);
    upload.nOffset = st.Int(9);
    upload.bDone = st.Int(10) != 0;
}

void ReadFile(const Statement& st, StoredFile& file) {
    file.nId = st.Int(0);
    file.nUserId = st.Int(1);
    file.nFolderId = st.Int(2);
    file.strName = st.Text(3);
    file.nSize = st.Int(4);
    file.strSha1 = st.Text(5);
    file.strPickCode = st.Text(6);
    file.nCreated = st.Int(7);
}

void ReadAccount(const Statement& st, Account& account) {
    account.nId = st.Int(0);
    account.strName = st.Text(1);
    account.strPassword = st.Text(2);
    account.strUserKey = st.Text(3);
    account.nRootFolder = st.Int(4);
}

const char kUploadColumns[] =
    "pickcode, user_id, folder_id, filename, filesize, fileid, quickid, uploadkey, ets, "
    "offset, done";
const char kFileColumns[] = "id, user_id, folder_id, name, size, sha1, pickcode, created";

}  // namespace

void Records::CreateSchema() {
    m_db.Exec(
        "CREATE TABLE IF NOT EXISTS accounts("
        " id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, password TEXT NOT NULL,"
        " userkey TEXT NOT NULL, root_folder INTEGER NOT NULL DEFAULT 0);"
        "CREATE TABLE IF NOT EXISTS folders("
        " id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL, parent_id INTEGER NOT NULL,"
        " name TEXT NOT NULL, created INTEGER NOT NULL, UNIQUE(user_id, parent_id, name));"
        "CREATE TABLE IF NOT EXISTS contents("
        " sha1 TEXT PRIMARY KEY, quickid TEXT NOT NULL, size INTEGER NOT NULL,"
        " created INTEGER NOT NULL);"
        "CREATE INDEX IF NOT EXISTS contents_quick ON contents(quickid, size);"
        "CREATE TABLE IF NOT EXISTS files("
        " id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL, folder_id INTEGER NOT NULL,"
        " name TEXT NOT NULL, size INTEGER NOT NULL, sha1 TEXT NOT NULL,"
        " pickcode TEXT NOT NULL UNIQUE, created INTEGER NOT NULL);"
        "CREATE INDEX IF NOT EXISTS files_folder ON files(folder_id, name);"
        "CREATE TABLE IF NOT EXISTS uploads("
        " pickcode TEXT PRIMARY KEY, user_id INTEGER NOT NULL, folder_id INTEGER NOT NULL,"
        " filename TEXT NOT NULL, filesize INTEGER NOT NULL, fileid TEXT NOT NULL,"
        " quickid TEXT NOT NULL, uploadkey TEXT NOT NULL, ets INTEGER NOT NULL,"
        " offset INTEGER NOT NULL, done INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL);"
        // Each account's used bytes, kept by triggers inside the very statement (and so the
        // transaction) that stores, reserves or drops bytes: a dispatch reads one row instead
        // of summing every file the account holds.
        "CREATE TABLE IF NOT EXISTS usage("
        " user_id INTEGER PRIMARY KEY, used INTEGER NOT NULL DEFAULT 0);"
        "CREATE TRIGGER IF NOT EXISTS usage_file_added AFTER INSERT ON files BEGIN"
        " UPDATE usage SET used = used + NEW.size WHERE user_id = NEW.user_id; END;"
        "CREATE TRIGGER IF NOT EXISTS usage_file_removed AFTER DELETE ON files BEGIN"
        " UPDATE usage SET used = used - OLD.size WHERE user_id = OLD.user_id; END;"
        "CREATE TRIGGER IF NOT EXISTS usage_upload_added AFTER INSERT ON uploads"
        " WHEN NEW.done = 0 BEGIN"
        " UPDATE usage SET used = used + NEW.filesize WHERE user_id = NEW.user_id; END;"
        "CREATE TRIGGER IF NOT EXISTS usage_upload_removed AFTER DELETE ON uploads"
        " WHEN OLD.done = 0 BEGIN"
        " UPDATE usage SET used = used - OLD.filesize WHERE user_id = OLD.user_id; END;"
        // a piece only moves the offset: the usual update leaves the total alone
        "CREATE TRIGGER IF NOT EXISTS usage_upload_changed AFTER UPDATE ON uploads"
        " WHEN OLD.done <> NEW.done OR OLD.filesize <> NEW.filesize BEGIN"
        " UPDATE usage SET used = used - CASE WHEN OLD.done = 0 THEN OLD.filesize ELSE 0 END"
        "  WHERE user_id = OLD.user_id;"
        " UPDATE usage SET used = used + CASE WHEN NEW.done = 0 THEN NEW.filesize ELSE 0 END"
        "  WHERE user_id = NEW.user_id; END;");
}

void Records::RebuildUsage() {
    m_db.Exec(
        "DELETE FROM usage;"
        "INSERT INTO usage(user_id, used) SELECT id, 0 FROM accounts;"
        "UPDATE usage SET used ="
        " (SELECT COALESCE(SUM(size), 0) FROM files WHERE files.user_id = usage.user_id) +"
        " (SELECT COALESCE(SUM(filesize), 0) FROM uploads"
        "  WHERE uploads.user_id = usage.user_id AND done = 0);");
}

bool Records::AccountByName(const std::string& strName, Account& account) {
    Statement st(m_db,
                 "SELECT id, name, password, userkey, root_folder FROM accounts WHERE name=?");
    st.Bind(1, strName);
    if (!st.Step())
        return false;
    ReadAccount(st, account);
    return true;
}

bool Records::AccountById(long long nId, Account& account) {
    Statement st(m_db, "SELECT id, name, password, userkey, root_folder FROM accounts WHERE id=?");
    st.Bind(1, nId);
    if (!st.Step())
        return false;
    ReadAccount(st, account);
    return true;
}

std::vector<Account> Records::Accounts() {
    std::vector<Account> vAccounts;
    Statement st(m_db, "SELECT id, name, password, userkey, root_folder FROM accounts ORDER BY id");
    while (st.Step()) {
        vAccounts.emplace_back();
        ReadAccount(st, vAccounts.back());
    }
    return vAccounts;
}

Account Records::PutAccount(const std::string& strName, const std::string& strPassword,
                            const std::string& strNewUserKey) {
    Account account;
    if (AccountByName(strName, account)) {
        if (account.strPassword != strPassword) {
            Statement st(m_db, "UPDATE accounts SET password=? WHERE id=?");
            st.Bind(1, strPassword).Bind(2, account.nId).Run();
            account.strPassword = strPassword;
        }
        return account;
    }
    // ids start high, so they read as account numbers, not as row counters
    Statement ins(m_db,
                  "INSERT INTO accounts(id, name, password, userkey) "
                  "VALUES((SELECT COALESCE(MAX(id) + 1, 100001) FROM accounts), ?, ?, ?)");
    ins.Bind(1, strName).Bind(2, strPassword).Bind(3, strNewUserKey).Run();
    account.nId = m_db.LastInsertId();
    account.strName = strName;
    account.strPassword = strPassword;
    account.strUserKey = strNewUserKey;
    account.nRootFolder = CreateFolder(account.nId, 0, "");
    Statement usage(m_db, "INSERT OR IGNORE INTO usage(user_id, used) VALUES(?, 0)");
    usage.Bind(1, account.nId).Run();
    Statement upd(m_db, "UPDATE accounts SET root_folder=? WHERE id=?");
    upd.Bind(1, account.nRootFolder).Bind(2, account.nId).Run();
    return account;
}

bool Records::FolderById(long long nId, Folder& folder) {
    Statement st(m_db, "SELECT id, user_id, parent_id, name FROM folders WHERE id=?");
    st.Bind(1, nId);
    if (!st.Step())
        return false;
    folder.nId = st.Int(0);
    folder.nUserId = st.Int(1);
    folder.nParentId = st.Int(2);
    folder.strName = st.Text(3);
    return true;
}

long long Records::ChildFolder(long long nUserId, long long nParentId, const std::string& strName) {
    Statement st(m_db, "SELECT id FROM folders WHERE user_id=? AND parent_id=? AND name=?");
    st.Bind(1, nUserId).Bind(2, nParentId).Bind(3, strName);
    return st.Step() ? st.Int(0) : 0;
}

long long Records::CreateFolder(long long nUserId, long long nParentId,
                                const std::string& strName) {
    Statement st(m_db, "INSERT INTO folders(user_id, parent_id, name, created) VALUES(?, ?, ?, ?)");
    st.Bind(1, nUserId).Bind(2, nParentId).Bind(3, strName).Bind(4, Now()).Run();
    return m_db.LastInsertId();
}

std::vector<Folder> Records::FoldersOf(long long nUserId) {
    std::vector<Folder> vFolders;
    Statement st(m_db,
                 "SELECT id, user_id, parent_id, name FROM folders WHERE user_id=? ORDER BY name");
    st.Bind(1, nUserId);
    while (st.Step()) {
        Folder folder;
        folder.nId = st.Int(0);
        folder.nUserId = st.Int(1);
        folder.nParentId = st.Int(2);
        folder.strName = st.Text(3);
        vFolders.push_back(folder);
    }
    return vFolders;
}

bool Records::UploadByPickCode(const std::string& strPickCode, Upload& upload) {
    Statement st(
        m_db, (std::string("SELECT ") + kUploadColumns + " FROM uploads WHERE pickcode=?").c_str());
    st.Bind(1, strPickCode);
    if (!st.Step())
        return false;
    ReadUpload(st, upload);
    return true;
}

void Records::InsertUpload(const Upload& upload) {
    Statement st(m_db,
                 "INSERT INTO uploads(pickcode, user_id, folder_id, filename, filesize, fileid,"
                 " quickid, uploadkey, ets, offset, done, created)"
                 " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    st.Bind(1, upload.strPickCode)
        .Bind(2, upload.nUserId)
        .Bind(3, upload.nFolderId)
        .Bind(4, upload.strFileName)
        .Bind(5, upload.nFileSize)
        .Bind(6, upload.strFileId)
        .Bind(7, upload.strQuickId)
        .Bind(8, upload.strUploadKey)
        .Bind(9, upload.nEts)
        .Bind(10, upload.nOffset)
        .Bind(11, upload.bDone ? 1 : 0)
        .Bind(12, Now())
        .Run();
}

void Records::UpdateUpload(const Upload& upload) {
    Statement st(m_db,
                 "UPDATE uploads SET folder_id=?, filename=?, filesize=?, fileid=?, quickid=?,"
                 " ets=?, offset=?, done=? WHERE pickcode=?");
    st.Bind(1, upload.nFolderId)
        .Bind(2, upload.strFileName)
        .Bind(3, upload.nFileSize)
        .Bind(4, upload.strFileId)
        .Bind(5, upload.strQuickId)
        .Bind(6, upload.nEts)
        .Bind(7, upload.nOffset)
        .Bind(8, upload.bDone ? 1 : 0)
        .Bind(9, upload.strPickCode)
        .Run();
}

void Records::DeleteUpload(const std::string& strPickCode) {
    Statement st(m_db, "DELETE FROM uploads WHERE pickcode=?");
    st.Bind(1, strPickCode).Run();
}

std::vector<Upload> Records::UnfinishedUploads() {
    std::vector<Upload> vUploads;
    Statement st(m_db,
                 (std::string("SELECT ") + kUploadColumns + " FROM uploads WHERE done=0").c_str());
    while (st.Step()) {
        vUploads.emplace_back();
        ReadUpload(st, vUploads.back());
    }
    return vUploads;
}

bool Records::ContentBySha1(const std::string& strSha1, Content& content) {
    Statement st(m_db, "SELECT sha1, quickid, size FROM contents WHERE sha1=?");
    st.Bind(1, strSha1);
    if (!st.Step())
        return false;
    content.strSha1 = st.Text(0);
    content.strQuickId = st.Text(1);
    content.nSize = st.Int(2);
    return true;
}

bool Records::ContentByQuickId(const std::string& strQuickId, long long nSize, Content& content) {
    Statement st(m_db, "SELECT sha1, quickid, size FROM contents WHERE quickid=? AND size=?");
    st.Bind(1, strQuickId).Bind(2, nSize);
    if (!st.Step())
        return false;
    content.strSha1 = st.Text(0);
    content.strQuickId = st.Text(1);
    content.nSize = st.Int(2);
    return true;
}

void Records::PutContent(const Content& content) {
    Statement st(m_db,
                 "INSERT OR IGNORE INTO contents(sha1, quickid, size, created) VALUES(?, ?, ?, ?)");
    st.Bind(1, content.strSha1).Bind(2, content.strQuickId).Bind(3, content.nSize).Bind(4, Now());
    st.Run();
}

bool Records::FileByPickCode(const std::string& strPickCode, StoredFile& file) {
    Statement st(m_db,
                 (std::string("SELECT ") + kFileColumns + " FROM files WHERE pickcode=?").c_str());
    st.Bind(1, strPickCode);
    if (!st.Step())
        return false;
    ReadFile(st, file);
    return true;
}

bool Records::SameFile(long long nFolderId, const std::string& strName, const std::string& strSha1,
                       StoredFile& file) {
    Statement st(m_db, (std::string("SELECT ") + kFileColumns +
                        " FROM files WHERE folder_id=? AND name=? AND sha1=?")
                           .c_str());
    st.Bind(1, nFolderId).Bind(2, strName).Bind(3, strSha1);
    if (!st.Step())
        return false;
    ReadFile(st, file);
    return true;
}

void Records::InsertFile(StoredFile& file) {
    file.nCreated = Now();
    Statement st(m_db,
                 "INSERT INTO files(user_id, folder_id, name, size, sha1, pickcode, created)"
                 " VALUES(?, ?, ?, ?, ?, ?, ?)");
    st.Bind(1, file.nUserId)
        .Bind(2, file.nFolderId)
        .Bind(3, file.strName)
        .Bind(4, file.nSize)
        .Bind(5, file.strSha1)
        .Bind(6, file.strPickCode)
        .Bind(7, file.nCreated)
        .Run();
    file.nId = m_db.LastInsertId();
}

std::vector<StoredFile> Records::FilesOf(long long nUserId) {
    std::vector<StoredFile> vFiles;
    Statement st(m_db, (std::string("SELECT ") + kFileColumns +
                        " FROM files WHERE user_id=? ORDER BY folder_id, name, id")
                           .c_str());
    st.Bind(1, nUserId);
    while (st.Step()) {
        vFiles.emplace_back();
        ReadFile(st, vFiles.back());
    }
    return vFiles;
}

bool Records::PickCodeTaken(const std::string& strPickCode) {
    Statement st(m_db,
                 "SELECT 1 FROM uploads WHERE pickcode=?1 UNION ALL "
                 "SELECT 1 FROM files WHERE pickcode=?1");
    st.Bind(1, strPickCode);
    return st.Step();
}

long long Records::UsedBytes(long long nUserId) {
    Statement st(m_db, "SELECT used FROM usage WHERE user_id=?");
    st.Bind(1, nUserId);
    return st.Step() ? st.Int(0) : 0;
}

void Records::ClearContent() {
    m_db.Exec(
        "DELETE FROM files; DELETE FROM uploads; DELETE FROM contents;"
        "DELETE FROM folders WHERE parent_id <> 0;");
}

}  // namespace standin
