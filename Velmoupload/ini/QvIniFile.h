// One small INI file kept in memory as sections of key/value strings; read from disk in one go
// and written back in one go. The account file and the resume file are both held this way.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "utils/mutex.h"

namespace _VelmoUpload {

// The key names of one store, each held once: a hundred thousand records of the same nine
// keys refer to them by number.
class QvIniKeyNames {
public:
    uint32_t Intern(std::string_view strKey);
    bool Lookup(std::string_view strKey, uint32_t& nKey) const;
    const std::string& Name(uint32_t nKey) const { return *m_names[nKey]; }
    void Swap(QvIniKeyNames& other) {
        m_index.swap(other.m_index);
        m_names.swap(other.m_names);
    }

private:
    std::unordered_map<std::string, uint32_t> m_index;
    std::vector<const std::string*> m_names;  // the index's own keys, by number
};

// The keys and values of one section, packed into a single string in ascending byte order of
// the key names: per key its number among the store's names, the value's length and the value
// (numbers and lengths as base-128 varints). A resume file holds a hundred thousand sections
// of nine keys; one allocation per section instead of a tree node per key, and no key name
// repeated in each, is most of what keeps such a file small in memory.
class QvIniKeyValue {
public:
    // The value, viewing into this record until it next changes.
    bool Find(uint32_t nKey, std::string_view& strValue) const;
    void Set(uint32_t nKey, std::string_view strValue, const QvIniKeyNames& names);
    void Erase(uint32_t nKey);
    void Clear() { std::string().swap(m_strPacked); }
    // Calls visit(key number, value) for every key in ascending order of the names.
    template <typename Visit>
    void ForEach(Visit visit) const {
        size_t nPos = 0;
        uint32_t nKey = 0;
        std::string_view strValue;
        while (Next(nPos, nKey, strValue))
            visit(nKey, strValue);
    }

private:
    bool Next(size_t& nPos, uint32_t& nKey, std::string_view& strValue) const;

    std::string m_strPacked;
};

// One section as a visitor of the store sees it.
class QvIniRecord {
public:
    QvIniRecord(const QvIniKeyValue& keyValue, const QvIniKeyNames& names)
        : m_keyValue(keyValue), m_names(names) {}
    bool Find(std::string_view strKey, std::string_view& strValue) const {
        uint32_t nKey = 0;
        return m_names.Lookup(strKey, nKey) && m_keyValue.Find(nKey, strValue);
    }

private:
    const QvIniKeyValue& m_keyValue;
    const QvIniKeyNames& m_names;
};

class QvIniFile {
public:
    QvIniFile();
    explicit QvIniFile(const std::string& strIniPath);
    ~QvIniFile();
    QvIniFile(const QvIniFile&) = delete;
    QvIniFile& operator=(const QvIniFile&) = delete;

    void SetIniPath(const std::string& strIniPath);
    // An empty argument keeps the stored path.
    bool Load(const std::string& strIniPath = std::string());
    bool Save(const std::string& strIniPath = std::string());
    void Clear();

    void Update(const std::string& strSection, const std::string& strKey,
                const std::string& strValue);
    void RemoveSection(const std::string& strSection);
    void RemoveKey(const std::string& strSection, const std::string& strKey);
    void GetSections(std::list<std::string>& contentList);
    bool GetValue(const std::string& strSection, const std::string& strKey, std::string& strValue);

    // Calls visit(name, keys, listed) under the lock for every section that has content, once
    // per name, at its first place in the section order; listed is how often the name is in
    // that order. Lets a caller walk a large store without copying its names. The visitor
    // must not call back into the store.
    typedef std::function<void(const std::string&, const QvIniRecord&, unsigned)> SectionVisit;
    void VisitSections(const SectionVisit& visit);

private:
    // A name's content and where it stands in m_contentList. A name stays in m_content while
    // it has content or is still listed: a file may repeat a header, and RemoveSection takes
    // the first of them, so a name can be listed without content.
    struct QvIniSection {
        QvIniKeyValue keyValue;
        uint32_t nListed = 0;  // how often the name is in m_contentList
        uint32_t nFirst = 0;   // the slot of its first listing, when listed
        bool bContent = false;
    };
    typedef std::unordered_map<std::string, QvIniSection> QvIniContent;
    typedef QvIniContent::value_type QvIniEntry;
    // The section order: one slot per listing, null once removed (compacted from time to
    // time). Slots point at entries of m_content, whose nodes never move.
    typedef std::vector<QvIniEntry*> QvIniSectionList;
    // The slots of a name's later listings, for the rare file that repeats a header.
    typedef std::unordered_map<QvIniEntry*, std::vector<uint32_t>> QvIniLaterSlots;

    QvIniEntry& _Entry(const std::string& strSection);
    void _List(QvIniEntry& entry);
    void _Unlist(QvIniEntry& entry);
    void _Compact();
    void _Swap(QvIniFile& other);
    // Parses one line (trimmed here) into the section pCurrent points at; a header moves it.
    void _ParseLine(std::string_view strLine, QvIniEntry*& pCurrent);

    std::string TakePath(const std::string& strIniPath);
    // Writes the content to fd (under the lock), noting where each header line lies.
    bool _WriteContent(int fd, std::vector<std::pair<uint64_t, uint32_t>>& headers);
    std::string _HeaderText();

    std::string m_strIniPath;
    QvIniContent m_content;
    QvIniSectionList m_contentList;
    QvIniLaterSlots m_laterSlots;
    size_t m_nHoles = 0;  // null slots in m_contentList
    QvIniKeyNames m_keyNames;
    // Guards m_content, m_contentList, m_laterSlots, m_nHoles, m_keyNames and m_strIniPath
    // (Load/Save may change the path while another thread saves).
    Mutex m_mutex;
};

}  // namespace _VelmoUpload
