// File content under the data folder: one growing file per unfinished upload, and the content
// store, one file per SHA-1, shared by every account that holds that content.
#pragma once

#include <string>

namespace standin {

class ContentFiles {
public:
    // Creates the folders below strDataDir; false when they cannot be made.
    bool Open(const std::string& strDataDir);

    std::string PartialPath(const std::string& strPickCode) const;
    std::string ContentPath(const std::string& strSha1) const;

    // An empty partial file; errno-style code on failure, 0 on success.
    int CreatePartial(const std::string& strPickCode);
    // Writes the piece at nOffset and cuts the file there when bLast; 0 or an errno value.
    int WritePiece(const std::string& strPickCode, long long nOffset, const char* pData,
                   size_t nData, bool bLast);
    // Size of the partial file, -1 when it does not exist.
    long long PartialSize(const std::string& strPickCode) const;
    bool TruncatePartial(const std::string& strPickCode, long long nSize);
    void RemovePartial(const std::string& strPickCode);
    // Moves a verified partial file into the content store (dropping it when the content is
    // already there); false when neither works.
    bool CommitPartial(const std::string& strPickCode, const std::string& strSha1);
    // Removes everything held; used by the fault control's full reset.
    void Clear();

private:
    std::string m_strPartialDir;
    std::string m_strContentDir;
};

}  // namespace standin
