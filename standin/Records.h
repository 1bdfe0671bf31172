// The stand-in's records in SQLite: accounts, folders, stored files, the content index and
// unfinished uploads. Each call is one or two statements; callers hold the Store's lock.
#pragma once

#include <string>
#include <vector>

#include "SqliteDb.h"

namespace standin {

struct Account {
    long long nId = 0;
    std::string strName;
    std::string strPassword;
    std::string strUserKey;
    long long nRootFolder = 0;
};

struct Folder {
    long long nId = 0;
    long long nUserId = 0;
    long long nParentId = 0;  // 0 for an account's root
    std::string strName;
};

struct Upload {
    std::string strPickCode;
    long long nUserId = 0;
    long long nFolderId = 0;
    std::string strFileName;
    long long nFileSize = 0;
    std::string strFileId;   // SHA-1 text, upper case; empty until the client names it
    std::string strQuickId;  // MDVelmo text, upper case; may be empty
    std::string strUploadKey;
    long long nEts = 0;     // until when check and pieces are accepted (seconds since 1970)
    long long nOffset = 0;  // bytes held; the next piece starts here
    bool bDone = false;
};

struct Content {
    std::string strSha1;
    std::string strQuickId;
    long long nSize = 0;
};

struct StoredFile {
    long long nId = 0;
    long long nUserId = 0;
    long long nFolderId = 0;
    std::string strName;
    long long nSize = 0;
    std::string strSha1;
    std::string strPickCode;
    long long nCreated = 0;
};

class Records {
public:
    explicit Records(SqliteDb& db) : m_db(db) {}

    void CreateSchema();
    // Sums each account's used bytes afresh from its files and unfinished uploads, for a
    // database written before the running totals were kept.
    void RebuildUsage();

    bool AccountByName(const std::string& strName, Account& account);
    bool AccountById(long long nId, Account& account);
    std::vector<Account> Accounts();
    // Adds the account or updates its password; a new one gets strNewUserKey and a root folder.
    Account PutAccount(const std::string& strName, const std::string& strPassword,
                       const std::string& strNewUserKey);

    bool FolderById(long long nId, Folder& folder);
    // The id of the named child, 0 when there is none.
    long long ChildFolder(long long nUserId, long long nParentId, const std::string& strName);
    long long CreateFolder(long long nUserId, long long nParentId, const std::string& strName);
    std::vector<Folder> FoldersOf(long long nUserId);

    bool UploadByPickCode(const std::string& strPickCode, Upload& upload);
    void InsertUpload(const Upload& upload);
    void UpdateUpload(const Upload& upload);
    void DeleteUpload(const std::string& strPickCode);
    std::vector<Upload> UnfinishedUploads();

    bool ContentBySha1(const std::string& strSha1, Content& content);
    bool ContentByQuickId(const std::string& strQuickId, long long nSize, Content& content);
    void PutContent(const Content& content);

    bool FileByPickCode(const std::string& strPickCode, StoredFile& file);
    bool SameFile(long long nFolderId, const std::string& strName, const std::string& strSha1,
                  StoredFile& file);
    void InsertFile(StoredFile& file);
    std::vector<StoredFile> FilesOf(long long nUserId);

    bool PickCodeTaken(const std::string& strPickCode);
    // Stored files plus the full size of every unfinished upload, which is reserved at dispatch:
    // the running total the schema's triggers keep.
    long long UsedBytes(long long nUserId);

    // Drops every folder, file, upload and content record; accounts and their roots stay.
    void ClearContent();

private:
    SqliteDb& m_db;
};

}  // namespace standin
