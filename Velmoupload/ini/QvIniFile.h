// One small INI file kept in memory as sections of key/value strings; read from disk in one go
// and written back in one go. The account file and the resume file are both held this way.
#pragma once

#include <list>
#include <map>
#include <string>
#include <unordered_map>

#include "utils/mutex.h"

namespace _VelmoUpload {

typedef std::map<std::string, std::string> QvIniKeyValue;
typedef std::map<std::string, QvIniKeyValue> QvIniContent;

class QvIniFile {
public:
    QvIniFile();
    explicit QvIniFile(const std::string& strIniPath);
    ~QvIniFile();

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

private:
    typedef std::list<std::string> QvIniSectionList;
    // Every position of a name in m_contentList, oldest first. A file may repeat a header, so
    // one name can sit in the list more than once and RemoveSection must find the first one
    // without walking a list of a hundred thousand resume records.
    typedef std::unordered_map<std::string, std::list<QvIniSectionList::iterator>>
        QvIniSectionIndex;

    static void AppendSection(QvIniSectionList& contentList, QvIniSectionIndex& sectionIndex,
                              const std::string& strSection);
    std::string TakePath(const std::string& strIniPath);

    std::string m_strIniPath;
    QvIniContent m_content;
    QvIniSectionList m_contentList;
    // Guards m_content and m_contentList (and m_sectionIndex, which mirrors the list, and
    // m_strIniPath, which Load/Save may change while another thread saves).
    Mutex m_mutex;
    QvIniSectionIndex m_sectionIndex;
};

}  // namespace _VelmoUpload
