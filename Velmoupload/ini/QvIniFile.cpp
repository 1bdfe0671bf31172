// INI store: parses the file as it reads it into packed sections and writes it back whole
// through a temporary file, so a crash or a full disk never leaves a half-written store behind.
#include "ini/QvIniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace _VelmoUpload {

namespace {

// Reads and writes go through buffers of this size: the file itself is never held whole, and
// a small store (the account file) costs a small buffer.
const size_t kBlockSize = 64 * 1024;
// The section order is compacted once this many slots, and half of them, are empty.
const size_t kCompactHoles = 1024;

void PutLength(std::string& strOut, size_t nLength) {
    while (nLength >= 0x80) {
        strOut += static_cast<char>((nLength & 0x7F) | 0x80);
        nLength >>= 7;
    }
    strOut += static_cast<char>(nLength);
}

size_t LengthSize(size_t nLength) {
    size_t nBytes = 1;
    while (nLength >= 0x80) {
        nLength >>= 7;
        ++nBytes;
    }
    return nBytes;
}

bool GetNumber(const std::string& strIn, size_t& nPos, size_t& nNumber) {
    nNumber = 0;
    for (int nShift = 0; nPos < strIn.size() && nShift < 64; nShift += 7) {
        unsigned char c = static_cast<unsigned char>(strIn[nPos++]);
        nNumber |= static_cast<size_t>(c & 0x7F) << nShift;
        if (!(c & 0x80))
            return true;
    }
    return false;
}

// A length, which must fit in what is left of the record.
bool GetLength(const std::string& strIn, size_t& nPos, size_t& nLength) {
    return GetNumber(strIn, nPos, nLength) && nLength <= strIn.size() - nPos;
}

std::string_view Trim(std::string_view strLine) {
    static const char kBlanks[] = " \t\n\r";
    std::string_view::size_type nBegin = strLine.find_first_not_of(kBlanks);
    if (nBegin == std::string_view::npos)
        return std::string_view();
    std::string_view::size_type nEnd = strLine.find_last_not_of(kBlanks);
    return strLine.substr(nBegin, nEnd - nBegin + 1);
}

bool WriteAll(int fd, const char* p, size_t nLeft) {
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

// ---------------------------------------------------------------- key names

uint32_t QvIniKeyNames::Intern(std::string_view strKey) {
    auto result = m_index.try_emplace(std::string(strKey), static_cast<uint32_t>(m_names.size()));
    if (result.second)
        m_names.push_back(&result.first->first);
    return result.first->second;
}

bool QvIniKeyNames::Lookup(std::string_view strKey, uint32_t& nKey) const {
    std::unordered_map<std::string, uint32_t>::const_iterator it =
        m_index.find(std::string(strKey));
    if (it == m_index.end())
        return false;
    nKey = it->second;
    return true;
}

// ---------------------------------------------------------------- one section's keys

bool QvIniKeyValue::Next(size_t& nPos, uint32_t& nKey, std::string_view& strValue) const {
    size_t nNumber = 0, nLength = 0;
    if (nPos >= m_strPacked.size() || !GetNumber(m_strPacked, nPos, nNumber) ||
        !GetLength(m_strPacked, nPos, nLength))
        return false;
    nKey = static_cast<uint32_t>(nNumber);
    strValue = std::string_view(m_strPacked.data() + nPos, nLength);
    nPos += nLength;
    return true;
}

bool QvIniKeyValue::Find(uint32_t nKey, std::string_view& strValue) const {
    size_t nPos = 0;
    uint32_t nHere = 0;
    std::string_view strHereValue;
    while (Next(nPos, nHere, strHereValue)) {
        if (nHere == nKey) {
            strValue = strHereValue;
            return true;
        }
    }
    return false;
}

void QvIniKeyValue::Set(uint32_t nKey, std::string_view strValue, const QvIniKeyNames& names) {
    // where the key goes, and what it replaces
    const std::string& strName = names.Name(nKey);
    size_t nPos = 0, nStart = 0, nEnd = 0;
    uint32_t nHere = 0;
    std::string_view strHereValue;
    for (;;) {
        nStart = nPos;
        if (!Next(nPos, nHere, strHereValue)) {
            nStart = nEnd = m_strPacked.size();
            break;
        }
        if (nHere == nKey) {
            nEnd = nPos;
            break;
        }
        if (names.Name(nHere).compare(strName) > 0) {
            nEnd = nStart;
            break;
        }
    }
    // Built at its exact size: growing in place would double the capacity, and with it the
    // memory of a large store.
    std::string strPacked;
    strPacked.reserve(m_strPacked.size() - (nEnd - nStart) + LengthSize(nKey) +
                      LengthSize(strValue.size()) + strValue.size());
    strPacked.append(m_strPacked, 0, nStart);
    PutLength(strPacked, nKey);
    PutLength(strPacked, strValue.size());
    strPacked.append(strValue);
    strPacked.append(m_strPacked, nEnd, std::string::npos);
    m_strPacked.swap(strPacked);
}

void QvIniKeyValue::Erase(uint32_t nKey) {
    size_t nPos = 0, nStart = 0;
    uint32_t nHere = 0;
    std::string_view strHereValue;
    for (;;) {
        nStart = nPos;
        if (!Next(nPos, nHere, strHereValue))
            return;
        if (nHere == nKey)
            break;
    }
    std::string strPacked;
    strPacked.reserve(m_strPacked.size() - (nPos - nStart));
    strPacked.append(m_strPacked, 0, nStart);
    strPacked.append(m_strPacked, nPos, std::string::npos);
    m_strPacked.swap(strPacked);
}

// ---------------------------------------------------------------- the store

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

QvIniFile::QvIniEntry& QvIniFile::_Entry(const std::string& strSection) {
    return *m_content.try_emplace(strSection).first;
}

void QvIniFile::_List(QvIniEntry& entry) {
    const uint32_t nSlot = static_cast<uint32_t>(m_contentList.size());
    m_contentList.push_back(&entry);
    if (entry.second.nListed++ == 0)
        entry.second.nFirst = nSlot;
    else
        m_laterSlots[&entry].push_back(nSlot);
}

// Takes the name's first listing out of the order.
void QvIniFile::_Unlist(QvIniEntry& entry) {
    QvIniSection& section = entry.second;
    m_contentList[section.nFirst] = nullptr;
    ++m_nHoles;
    if (--section.nListed > 0) {
        QvIniLaterSlots::iterator it = m_laterSlots.find(&entry);
        section.nFirst = it->second.front();
        it->second.erase(it->second.begin());
        if (it->second.empty())
            m_laterSlots.erase(it);
    }
    if (m_nHoles >= kCompactHoles && m_nHoles * 2 >= m_contentList.size())
        _Compact();
}

// Drops the empty slots; every slot number changes, so each name's are counted afresh.
void QvIniFile::_Compact() {
    QvIniSectionList contentList;
    contentList.reserve(m_contentList.size() - m_nHoles);
    for (QvIniEntry* pEntry : m_contentList) {
        if (pEntry) {
            pEntry->second.nListed = 0;
            contentList.push_back(pEntry);
        }
    }
    m_contentList.clear();
    m_contentList.shrink_to_fit();
    m_laterSlots.clear();
    m_nHoles = 0;
    for (QvIniEntry* pEntry : contentList)
        _List(*pEntry);
}

void QvIniFile::_Swap(QvIniFile& other) {
    // the nodes, and so the slots that point at them, move with the containers
    m_content.swap(other.m_content);
    m_contentList.swap(other.m_contentList);
    m_laterSlots.swap(other.m_laterSlots);
    std::swap(m_nHoles, other.m_nHoles);
    m_keyNames.Swap(other.m_keyNames);
}

void QvIniFile::_ParseLine(std::string_view strLine, QvIniEntry*& pCurrent) {
    strLine = Trim(strLine);
    if (strLine.empty())
        return;
    if (strLine.front() == '[' && strLine.back() == ']' && strLine.size() >= 2) {
        // A repeated header starts its section afresh but still counts as a new entry.
        pCurrent = &_Entry(std::string(strLine.substr(1, strLine.size() - 2)));
        pCurrent->second.keyValue.Clear();
        pCurrent->second.bContent = true;
        _List(*pCurrent);
        return;
    }
    std::string_view::size_type nEq = strLine.find('=');
    if (nEq == std::string_view::npos)
        return;
    if (!pCurrent) {
        // keys before any header: readable under the empty name, never listed nor saved
        pCurrent = &_Entry(std::string());
        pCurrent->second.bContent = true;
    }
    pCurrent->second.keyValue.Set(m_keyNames.Intern(strLine.substr(0, nEq)),
                                  strLine.substr(nEq + 1), m_keyNames);
}

bool QvIniFile::Load(const std::string& strIniPath) {
    const std::string strPath = TakePath(strIniPath);
    if (strPath.empty())
        return false;
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;

    // Parsed off the lock, block by block as it is read, and swapped in: readers wait only for
    // the swap, and the file's text is never held whole next to what it parses into.
    QvIniFile parsed;
    QvIniEntry* pCurrent = nullptr;
    std::vector<char> block(kBlockSize);
    std::string strCarry;  // the start of a line that runs into the next block
    size_t nTotal = 0;
    for (;;) {
        ssize_t n = read(fd, block.data(), block.size());
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
        nTotal += static_cast<size_t>(n);
        const char* p = block.data();
        const char* pEnd = p + n;
        while (const char* pLineEnd = static_cast<const char*>(memchr(p, '\n', pEnd - p))) {
            if (strCarry.empty()) {
                parsed._ParseLine(std::string_view(p, pLineEnd - p), pCurrent);
            } else {
                strCarry.append(p, pLineEnd);
                parsed._ParseLine(strCarry, pCurrent);
                strCarry.clear();
            }
            p = pLineEnd + 1;
        }
        // A last line without its line feed may be a write cut short; it is not taken.
        strCarry.append(p, pEnd);
    }
    close(fd);
    // A zero-length file holds nothing worth trading the memory content for; keeping it lets
    // the caller carry on and save it again.
    if (nTotal == 0)
        return true;

    {
        MutexLocker locker(m_mutex);
        _Swap(parsed);
    }
    // the old content is released here, after the lock
    return true;
}

bool QvIniFile::_WriteContent(int fd, std::vector<std::pair<uint64_t, uint32_t>>& headers) {
    std::string strBlock;
    strBlock.reserve(kBlockSize);
    uint64_t nWritten = 0;
    bool bOk = true;
    auto flush = [&] {
        bOk = bOk && WriteAll(fd, strBlock.data(), strBlock.size());
        nWritten += strBlock.size();
        strBlock.clear();
    };
    for (QvIniEntry* pEntry : m_contentList) {
        // RemoveSection of a repeated header drops the keys but leaves later entries in the
        // list; those have nothing to write.
        if (!pEntry || !pEntry->second.bContent)
            continue;
        headers.emplace_back(nWritten + strBlock.size(),
                             static_cast<uint32_t>(pEntry->first.size() + 3));
        strBlock += '[';
        strBlock += pEntry->first;
        strBlock += "]\n";
        pEntry->second.keyValue.ForEach([&](uint32_t nKey, std::string_view strValue) {
            strBlock += m_keyNames.Name(nKey);
            strBlock += '=';
            strBlock += strValue;
            strBlock += '\n';
        });
        if (strBlock.size() >= kBlockSize)
            flush();
    }
    flush();
    return bOk;
}

std::string QvIniFile::_HeaderText() {
    std::string strConsole;
    MutexLocker locker(m_mutex);
    for (QvIniEntry* pEntry : m_contentList) {
        if (!pEntry || !pEntry->second.bContent)
            continue;
        strConsole += '[';
        strConsole += pEntry->first;
        strConsole += "]\n";
    }
    return strConsole;
}

bool QvIniFile::Save(const std::string& strIniPath) {
    const std::string strPath = TakePath(strIniPath);
    if (strPath.empty())
        return false;

    // Same folder as the target, so the final rename never crosses file systems.
    std::string strTemp = strPath + ".XXXXXX";
    std::vector<char> tempName(strTemp.begin(), strTemp.end());
    tempName.push_back('\0');
    int fd = mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) {
        // the header lines are printed even when nothing can be written
        const std::string strConsole = _HeaderText();
        fwrite(strConsole.data(), 1, strConsole.size(), stdout);
        return false;
    }
    strTemp.assign(tempName.data());

    // The store holds account names and upload keys: owner only, whatever the umask or the
    // mode of the file being replaced.
    bool bOk = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    // Written block by block under the lock, into the temporary file: a copy of a large store
    // as text would cost as much memory as the store itself. Only the flush to disk and the
    // rename wait until the lock is released.
    std::vector<std::pair<uint64_t, uint32_t>> headers;
    size_t nNames = 0;
    {
        MutexLocker locker(m_mutex);
        nNames = m_contentList.size() - m_nHoles;
        bOk = bOk && _WriteContent(fd, headers);
    }

    // The header lines, read back from what was just written: block by block in file order,
    // since a read for each of 100,000 headers costs more than writing the whole store.
    std::string strConsole, strWindow;
    uint64_t nWindowStart = 0;
    for (const std::pair<uint64_t, uint32_t>& header : headers) {
        if (header.first < nWindowStart ||
            header.first + header.second > nWindowStart + strWindow.size()) {
            nWindowStart = header.first;
            strWindow.resize(std::max<size_t>(kBlockSize, header.second));
            ssize_t n =
                pread(fd, &strWindow[0], strWindow.size(), static_cast<off_t>(nWindowStart));
            while (n < 0 && errno == EINTR)
                n = pread(fd, &strWindow[0], strWindow.size(), static_cast<off_t>(nWindowStart));
            strWindow.resize(n > 0 ? static_cast<size_t>(n) : 0);
            if (strWindow.size() < header.second)
                break;
        }
        strConsole.append(strWindow, static_cast<size_t>(header.first - nWindowStart),
                          header.second);
        if (strConsole.size() >= kBlockSize) {
            fwrite(strConsole.data(), 1, strConsole.size(), stdout);
            strConsole.clear();
        }
    }
    fwrite(strConsole.data(), 1, strConsole.size(), stdout);
    std::vector<std::pair<uint64_t, uint32_t>>().swap(headers);
    printf("save : %zu\n", nNames);

    bOk = bOk && fsync(fd) == 0;
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
    QvIniFile cleared;
    MutexLocker locker(m_mutex);
    _Swap(cleared);
}

void QvIniFile::Update(const std::string& strSection, const std::string& strKey,
                       const std::string& strValue) {
    MutexLocker locker(m_mutex);
    QvIniEntry& entry = _Entry(strSection);
    if (!entry.second.bContent) {
        entry.second.bContent = true;
        _List(entry);
    }
    entry.second.keyValue.Set(m_keyNames.Intern(strKey), strValue, m_keyNames);
}

void QvIniFile::RemoveSection(const std::string& strSection) {
    MutexLocker locker(m_mutex);
    QvIniContent::iterator it = m_content.find(strSection);
    // a name that is not listed is ignored, even when it has content
    if (it == m_content.end() || it->second.nListed == 0)
        return;
    _Unlist(*it);
    it->second.bContent = false;
    it->second.keyValue.Clear();
    if (it->second.nListed == 0)
        m_content.erase(it);
}

void QvIniFile::RemoveKey(const std::string& strSection, const std::string& strKey) {
    MutexLocker locker(m_mutex);
    QvIniContent::iterator it = m_content.find(strSection);
    uint32_t nKey = 0;
    if (it != m_content.end() && it->second.bContent && m_keyNames.Lookup(strKey, nKey))
        it->second.keyValue.Erase(nKey);
}

void QvIniFile::GetSections(std::list<std::string>& contentList) {
    std::list<std::string> names;
    MutexLocker locker(m_mutex);
    for (QvIniEntry* pEntry : m_contentList)
        if (pEntry)
            names.push_back(pEntry->first);
    contentList.swap(names);
}

bool QvIniFile::GetValue(const std::string& strSection, const std::string& strKey,
                         std::string& strValue) {
    MutexLocker locker(m_mutex);
    QvIniContent::const_iterator it = m_content.find(strSection);
    std::string_view strFound;
    uint32_t nKey = 0;
    if (it == m_content.end() || !it->second.bContent || !m_keyNames.Lookup(strKey, nKey) ||
        !it->second.keyValue.Find(nKey, strFound))
        return false;
    strValue.assign(strFound);
    return true;
}

void QvIniFile::VisitSections(const SectionVisit& visit) {
    MutexLocker locker(m_mutex);
    for (size_t nSlot = 0; nSlot < m_contentList.size(); ++nSlot) {
        QvIniEntry* pEntry = m_contentList[nSlot];
        if (pEntry && pEntry->second.nFirst == nSlot && pEntry->second.bContent)
            visit(pEntry->first, QvIniRecord(pEntry->second.keyValue, m_keyNames),
                  pEntry->second.nListed);
    }
}

}  // namespace _VelmoUpload
