// INI store: parses the file line by line into ordered maps and writes it back whole through a
// temporary file, so a crash or a full disk never leaves a half-written store behind.
#include "ini/QvIniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <vector>

#include "utils/Utils.h"

namespace _VelmoUpload {

namespace {

bool ReadWholeFile(const std::string& strPath, std::string& strText) {
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0)
        strText.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A read error (a directory, an I/O fault) is not an empty file: report it rather
            // than let it pass as "nothing to load".
            close(fd);
            return false;
        }
        strText.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& strText) {
    const char* p = strText.data();
    size_t nLeft = strText.size();
    while (nLeft > 0) {
        ssize_t n = write(fd, p, nLeft);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        nLeft -= static_cast<size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& strPath) {
    std::string::size_type nPos = strPath.rfind('/');
    if (nPos == std::string::npos)
        return ".";
    if (nPos == 0)
        return "/";
    return strPath.substr(0, nPos);
}

// The rename only survives a power cut once the folder entry itself is on disk.
bool SyncFolder(const std::string& strFolder) {
    int fd = open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool bOk = fsync(fd) == 0;
    close(fd);
    return bOk;
}

}  // namespace

QvIniFile::QvIniFile() {}

QvIniFile::QvIniFile(const std::string& strIniPath) : m_strIniPath(strIniPath) {}

QvIniFile::~QvIniFile() {}

void QvIniFile::SetIniPath(const std::string& strIniPath) {
    MutexLocker locker(m_mutex);
    m_strIniPath = strIniPath;
}

// The path is read and written under the lock too: Load and Save may run on a background
// thread while another thread sets a new path.
std::string QvIniFile::TakePath(const std::string& strIniPath) {
    MutexLocker locker(m_mutex);
    if (!strIniPath.empty())
        m_strIniPath = strIniPath;
    return m_strIniPath;
}

void QvIniFile::AppendSection(QvIniSectionList& contentList, QvIniSectionIndex& sectionIndex,
                              const std::string& strSection) {
    contentList.push_back(strSection);
    sectionIndex[strSection].push_back(std::prev(contentList.end()));
}

bool QvIniFile::Load(const std::string& strIniPath) {
    const std::string strPath = TakePath(strIniPath);
    if (strPath.empty())
        return false;
    std::string strText;
    if (!ReadWholeFile(strPath, strText))
        return false;
    // A zero-length file holds nothing worth trading the memory content for; keeping it lets
    // the caller carry on and save it again.
    if (strText.empty())
        return true;

    // Parsed off the lock and swapped in, so readers wait only for the swap, never for a
    // hundred thousand sections being parsed.
    QvIniContent content;
    QvIniSectionList contentList;
    QvIniSectionIndex sectionIndex;
    std::string strCurrent;
    QvIniKeyValue* pCurrent = nullptr;  // created on first use: a file may have no loose keys

    std::string::size_type nStart = 0;
    for (;;) {
        std::string::size_type nEnd = strText.find('\n', nStart);
        // A last line without its line feed may be a write cut short; it is not taken.
        if (nEnd == std::string::npos)
            break;
        std::string strLine = Utils::StringLRTrim(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        if (strLine.empty())
            continue;

        if (strLine.front() == '[' && strLine.back() == ']') {
            strCurrent = strLine.substr(1, strLine.size() - 2);
            // A repeated header starts its section afresh but still counts as a new entry.
            pCurrent = &content[strCurrent];
            pCurrent->clear();
            AppendSection(contentList, sectionIndex, strCurrent);
            continue;
        }
        std::string::size_type nEq = strLine.find('=');
        if (nEq == std::string::npos)
            continue;
        if (!pCurrent)
            pCurrent = &content[strCurrent];
        (*pCurrent)[strLine.substr(0, nEq)] = strLine.substr(nEq + 1);
    }

    {
        MutexLocker locker(m_mutex);
        // std::list::swap keeps the index's iterators valid: they follow the nodes.
        m_content.swap(content);
        m_contentList.swap(contentList);
        m_sectionIndex.swap(sectionIndex);
    }
    // the old content is released here, after the lock
    return true;
}

bool QvIniFile::Save(const std::string& strIniPath) {
    const std::string strPath = TakePath(strIniPath);
    if (strPath.empty())
        return false;

    std::string strText;
    std::string strConsole;
    size_t nNames = 0;
    {
        MutexLocker locker(m_mutex);
        nNames = m_contentList.size();
        for (const std::string& strSection : m_contentList) {
            // RemoveSection of a repeated header drops the keys but leaves later entries in
            // the list; those have nothing to write.
            QvIniContent::const_iterator itSection = m_content.find(strSection);
            if (itSection == m_content.end())
                continue;
            strText += '[';
            strText += strSection;
            strText += "]\n";
            strConsole += '[';
            strConsole += strSection;
            strConsole += "]\n";
            for (const auto& keyValue : itSection->second) {
                strText += keyValue.first;
                strText += '=';
                strText += keyValue.second;
                strText += '\n';
            }
        }
    }
    fwrite(strConsole.data(), 1, strConsole.size(), stdout);

    // Same folder as the target, so the final rename never crosses file systems.
    std::string strTemp = strPath + ".XXXXXX";
    std::vector<char> tempName(strTemp.begin(), strTemp.end());
    tempName.push_back('\0');
    int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    strTemp.assign(tempName.data());
    printf("save : %zu\n", nNames);

    // The store holds account names and upload keys: owner only, whatever the umask or the
    // mode of the file being replaced.
    bool bOk = fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, strText) && fsync(fd) == 0;
    if (close(fd) != 0)
        bOk = false;
    if (bOk && rename(strTemp.c_str(), strPath.c_str()) != 0)
        bOk = false;
    if (!bOk) {
        unlink(strTemp.c_str());
        return false;
    }
    // The new content is in place even if this fails, but it may not survive a power cut,
    // and the caller is better told so.
    return SyncFolder(FolderOf(strPath));
}

void QvIniFile::Clear() {
    // Declared before the locker, so the old content is freed after the lock is released.
    QvIniContent content;
    QvIniSectionList contentList;
    QvIniSectionIndex sectionIndex;
    MutexLocker locker(m_mutex);
    m_content.swap(content);
    m_contentList.swap(contentList);
    m_sectionIndex.swap(sectionIndex);
}

void QvIniFile::Update(const std::string& strSection, const std::string& strKey,
                       const std::string& strValue) {
    MutexLocker locker(m_mutex);
    QvIniContent::iterator itSection = m_content.find(strSection);
    if (itSection == m_content.end()) {
        itSection = m_content.emplace(strSection, QvIniKeyValue()).first;
        AppendSection(m_contentList, m_sectionIndex, strSection);
    }
    itSection->second[strKey] = strValue;
}

void QvIniFile::RemoveSection(const std::string& strSection) {
    MutexLocker locker(m_mutex);
    QvIniSectionIndex::iterator itIndex = m_sectionIndex.find(strSection);
    if (itIndex == m_sectionIndex.end())
        return;
    m_contentList.erase(itIndex->second.front());
    itIndex->second.pop_front();
    if (itIndex->second.empty())
        m_sectionIndex.erase(itIndex);
    m_content.erase(strSection);
}

void QvIniFile::RemoveKey(const std::string& strSection, const std::string& strKey) {
    MutexLocker locker(m_mutex);
    QvIniContent::iterator itSection = m_content.find(strSection);
    if (itSection == m_content.end())
        return;
    itSection->second.erase(strKey);
}

void QvIniFile::GetSections(std::list<std::string>& contentList) {
    MutexLocker locker(m_mutex);
    contentList = m_contentList;
}

bool QvIniFile::GetValue(const std::string& strSection, const std::string& strKey,
                         std::string& strValue) {
    MutexLocker locker(m_mutex);
    QvIniContent::const_iterator itSection = m_content.find(strSection);
    if (itSection == m_content.end())
        return false;
    QvIniKeyValue::const_iterator itKey = itSection->second.find(strKey);
    if (itKey == itSection->second.end())
        return false;
    strValue = itKey->second;
    return true;
}

}  // namespace _VelmoUpload
