// The INI store: the line syntax Load accepts, the exact bytes and console lines of Save, the
// crash-safe replacement of the file, the section index against a model, and concurrent use.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <list>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TestHome.h"
#include "ini/QvIniFile.h"

using _VelmoUpload::QvIniFile;
using velmotest::ReadFile;
using velmotest::WriteFile;

namespace {

typedef std::list<std::string> Names;

Names SectionsOf(QvIniFile& ini) {
    Names names;
    ini.GetSections(names);
    return names;
}

std::string ValueOf(QvIniFile& ini, const std::string& strSection, const std::string& strKey) {
    std::string strValue = "<missing>";
    ini.GetValue(strSection, strKey, strValue);
    return strValue;
}

std::vector<std::string> FolderEntries(const std::string& strFolder) {
    std::vector<std::string> entries;
    if (DIR* pDir = opendir(strFolder.c_str())) {
        while (struct dirent* pEntry = readdir(pDir))
            if (pEntry->d_name[0] != '.')
                entries.push_back(pEntry->d_name);
        closedir(pDir);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

class QvIniFileTest : public velmotest::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        m_strPath = m_strWork + "/store.ini";
    }
    // Saves with the console lines captured, returning them.
    std::string Save(QvIniFile& ini, const std::string& strPath, bool bExpect) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(bExpect, ini.Save(strPath));
        return testing::internal::GetCapturedStdout();
    }

    std::string m_strPath;
};

TEST_F(QvIniFileTest, LoadReadsTheLineSyntaxAndSaveWritesItBack) {
    const struct {
        const char* pText;
        Names sections;
        const char* pSaved;
    } kCases[] = {
        // an unterminated last line is dropped
        {"[s]\nk=v", {"s"}, "[s]\n"},
        // keys before any header are readable but never saved
        {"k=v\n[s]\nx=1\n", {"s"}, "[s]\nx=1\n"},
        // a repeated header resets the keys and is listed twice
        {"[s]\nb=2\na=1\n[t]\n[s]\nc=3\n", {"s", "t", "s"}, "[s]\nc=3\n[t]\n[s]\nc=3\n"},
        // lines are trimmed once and split at the first "="; comments are keys like any other
        {"[ a ]\n  key = value  \na=b=c\n\t\n\n[abc\nabc\n# a comment\n; note=kept\n[abc]=1\n"
         "=empty key\nnovalue=\n[]\nx=y\n[q=r]\n",
         {" a ", "", "q=r"},
         "[ a ]\n=empty key\n; note=kept\n[abc]=1\na=b=c\nkey = value\nnovalue=\n[]\nx=y\n[q=r]\n"},
        // CR LF reads like LF
        {"k=v\r\n[s]\r\nb=2\r\na=1\r\n\r\n[t]\r\nx= y\r\n",
         {"s", "t"},
         "[s]\na=1\nb=2\n[t]\nx= y\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pText);
        QvIniFile ini;
        ini.Update("old", "k", "1");  // Load replaces the content
        WriteFile(m_strPath, c.pText);
        ASSERT_TRUE(ini.Load(m_strPath));
        EXPECT_EQ(c.sections, SectionsOf(ini));
        EXPECT_EQ("<missing>", ValueOf(ini, "old", "k"));
        Save(ini, "", true);
        EXPECT_EQ(c.pSaved, ReadFile(m_strPath));
    }
    QvIniFile ini;
    WriteFile(m_strPath, kCases[3].pText);
    ASSERT_TRUE(ini.Load(m_strPath));
    EXPECT_EQ(" value", ValueOf(ini, " a ", "key "));
    EXPECT_EQ("y", ValueOf(ini, "", "x"));
}

TEST_F(QvIniFileTest, FailedOrEmptyLoadKeepsTheContentAndMovesThePath) {
    QvIniFile ini;
    ini.Update("s", "k", "v");
    WriteFile(m_strPath, "");
    EXPECT_TRUE(ini.Load(m_strPath));
    EXPECT_FALSE(ini.Load(m_strWork));  // a folder reads as an error, not as an empty file
    EXPECT_FALSE(ini.Load(m_strWork + "/other.ini"));
    EXPECT_EQ("v", ValueOf(ini, "s", "k"));
    Save(ini, "", true);
    EXPECT_EQ("[s]\nk=v\n", ReadFile(m_strWork + "/other.ini"));
    EXPECT_FALSE(QvIniFile().Load(""));
}

TEST_F(QvIniFileTest, SaveWritesSectionsInListOrderKeysInByteOrderAndACountLine) {
    QvIniFile ini;
    ini.Update("/home/u/b.bin", "target", "U_1_0");
    ini.Update("/home/u/b.bin", "Filesize", "10");
    ini.Update("/home/u/b.bin", "filehash", "ABC");
    ini.Update("/home/u/a.bin", "z", "");
    ini.Update("/home/u/a.bin", "_", "x y");
    ini.Update("/home/u/a.bin", "z", "2");
    EXPECT_EQ("[/home/u/b.bin]\n[/home/u/a.bin]\nsave : 2\n", Save(ini, m_strPath, true));
    EXPECT_EQ(
        "[/home/u/b.bin]\nFilesize=10\nfilehash=ABC\ntarget=U_1_0\n"
        "[/home/u/a.bin]\n_=x y\nz=2\n",
        ReadFile(m_strPath));
    std::string strValue = "untouched";
    EXPECT_FALSE(ini.GetValue("/home/u/B.bin", "target", strValue));  // names match exactly
    EXPECT_EQ("untouched", strValue);

    ini.Clear();
    EXPECT_EQ("save : 0\n", Save(ini, "", true));
    EXPECT_EQ("", ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, SavedFileIsOwnerOnlyWhateverTheOldModeOrUmask) {
    QvIniFile ini;
    ini.Update("s", "k", "v");
    WriteFile(m_strPath, "old\n");
    ASSERT_EQ(0, chmod(m_strPath.c_str(), 0644));
    mode_t oldMask = umask(0277);
    Save(ini, m_strPath, true);
    Save(ini, m_strWork + "/new.ini", true);
    umask(oldMask);
    for (const std::string& strPath : {m_strPath, m_strWork + "/new.ini"}) {
        struct stat st;
        ASSERT_EQ(0, stat(strPath.c_str(), &st));
        EXPECT_EQ(0600u, st.st_mode & 07777) << strPath;
        EXPECT_EQ("[s]\nk=v\n", ReadFile(strPath));
    }
}

// Every failed save leaves the old file whole, no temporary file behind, and the content in
// memory for a later attempt.
TEST_F(QvIniFileTest, FailedSaveLeavesTheOldFileWhole) {
    struct rlimit oldLimit;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &oldLimit));
    const struct {
        const char* pWhat;
        std::string strPath;
        std::function<void()> fnBefore, fnAfter;
    } kCases[] = {
        {"no path", "", [] {}, [] {}},
        {"missing folder", m_strWork + "/no/such.ini", [] {}, [] {}},
        // a folder in the target's place makes the final rename fail, even for root
        {"folder in the way", m_strWork + "/dir.ini",
         [&] { ASSERT_EQ(0, mkdir((m_strWork + "/dir.ini").c_str(), 0700)); }, [] {}},
        // a file-size limit makes the write fail part-way, as a full disk would
        {"disk full", m_strPath,
         [&] {
             struct rlimit small = oldLimit;
             small.rlim_cur = 512;
             signal(SIGXFSZ, SIG_IGN);
             setrlimit(RLIMIT_FSIZE, &small);
         },
         [&] {
             setrlimit(RLIMIT_FSIZE, &oldLimit);
             signal(SIGXFSZ, SIG_DFL);
         }},
        {"read-only folder", m_strPath, [&] { chmod(m_strWork.c_str(), 0500); },
         [&] { chmod(m_strWork.c_str(), 0700); }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pWhat);
        if (std::string(c.pWhat) == "read-only folder" && geteuid() == 0)
            continue;  // root writes into read-only folders
        WriteFile(m_strPath, "[keep]\nk=v\n");
        QvIniFile ini;
        ini.Update("s", "k", std::string(4096, 'x'));
        c.fnBefore();
        const std::vector<std::string> before = FolderEntries(m_strWork);
        const std::string strOut = Save(ini, c.strPath, false);
        c.fnAfter();
        if (c.strPath.find("/no/") != std::string::npos) {
            EXPECT_EQ("[s]\n", strOut) << "no count line without a file to write";
        }
        EXPECT_EQ("[keep]\nk=v\n", ReadFile(m_strPath));
        EXPECT_EQ(before, FolderEntries(m_strWork));
        EXPECT_EQ(std::string(4096, 'x'), ValueOf(ini, "s", "k"));
    }
}

// A plain list-and-map model with a linear search, checked against the store after every step
// of a long random run that includes saving and reloading files with repeated headers.
TEST_F(QvIniFileTest, IndexAgreesWithALinearModelOverRandomOperations) {
    Names list;
    std::map<std::string, std::map<std::string, std::string>> content;
    QvIniFile ini(m_strPath);
    std::mt19937 rng(12345);
    const char* names[] = {"a", "b", "c", "d", ""};

    for (int step = 0; step < 4000; ++step) {
        std::string strName = names[rng() % 5];
        std::string strKey(1, static_cast<char>('k' + rng() % 3));
        std::string strValue = std::to_string(step);
        const unsigned nOp = rng() % 10;
        if (nOp < 4) {
            if (!content.count(strName))
                list.push_back(strName);
            content[strName][strKey] = strValue;
            ini.Update(strName, strKey, strValue);
        } else if (nOp < 7) {
            Names::iterator it = std::find(list.begin(), list.end(), strName);
            if (it != list.end()) {
                list.erase(it);
                content.erase(strName);
            }
            ini.RemoveSection(strName);
        } else if (nOp == 7) {
            if (content.count(strName))
                content[strName].erase(strKey);
            ini.RemoveKey(strName, strKey);
        } else if (nOp == 8) {
            // a duplicated header comes back from disk: the model re-reads what was written
            std::string strText;
            Names listed;
            for (const std::string& strSection : list) {
                strText += "[" + strSection + "]\n";
                for (const auto& kv : content[strSection])
                    strText += kv.first + "=" + kv.second + "\n";
                listed.push_back(strSection);
            }
            strText += "[" + strName + "]\n";
            listed.push_back(strName);
            content[strName].clear();
            list = listed;
            WriteFile(m_strPath, strText);
            ASSERT_TRUE(ini.Load(""));
        } else {
            ini.Clear();
            list.clear();
            content.clear();
        }
        ASSERT_EQ(list, SectionsOf(ini)) << "step " << step;
        for (const char* pName : names) {
            for (const char* pKey : {"k", "l", "m"}) {
                auto it = content.find(pName);
                std::string strExpected =
                    it != content.end() && it->second.count(pKey) ? it->second[pKey] : "<missing>";
                ASSERT_EQ(strExpected, ValueOf(ini, pName, pKey)) << "step " << step;
            }
        }
    }
}

TEST_F(QvIniFileTest, ConcurrentUpdatesReadsAndSavesStayConsistent) {
    const int kWriters = 4;
    const int kRounds = 300;
    QvIniFile ini(m_strPath);
    for (int w = 0; w < kWriters; ++w)
        ini.Update("w" + std::to_string(w), "n", "-1");

    testing::internal::CaptureStdout();
    ASSERT_TRUE(ini.Save(""));
    std::atomic<int> nFaults(0);
    std::atomic<int> nSaversLeft(2);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            const std::string strSection = "w" + std::to_string(w);
            for (int i = 0; i < kRounds; ++i) {
                ini.Update(strSection, "n", std::to_string(i));
                ini.Update("shared", strSection, std::to_string(i));
                std::string strValue;
                if (!ini.GetValue(strSection, "n", strValue) || strValue != std::to_string(i))
                    ++nFaults;
                if (i % 50 == 0)
                    ini.RemoveKey("shared", "gone");
            }
        });
    }
    for (int s = 0; s < 2; ++s) {
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i)
                if (!ini.Save(""))
                    ++nFaults;
            --nSaversLeft;
        });
    }
    // whatever moment the file is read, it is one whole snapshot, never a truncated one
    threads.emplace_back([&] {
        while (nSaversLeft > 0) {
            std::string strText = ReadFile(m_strPath);
            bool bWhole = !strText.empty() && strText.back() == '\n';
            for (int w = 0; w < kWriters; ++w)
                bWhole =
                    bWhole && strText.find("[w" + std::to_string(w) + "]\nn=") != std::string::npos;
            if (!bWhole)
                ++nFaults;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(ini.Save(""));
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(0, nFaults.load());
    QvIniFile reread;
    ASSERT_TRUE(reread.Load(m_strPath));
    Names expected;
    for (int w = 0; w < kWriters; ++w) {
        const std::string strSection = "w" + std::to_string(w);
        expected.push_back(strSection);
        EXPECT_EQ(std::to_string(kRounds - 1), ValueOf(reread, strSection, "n"));
        EXPECT_EQ(std::to_string(kRounds - 1), ValueOf(reread, "shared", strSection));
    }
    expected.push_back("shared");
    EXPECT_EQ(expected, SectionsOf(reread));
    EXPECT_EQ(std::vector<std::string>{"store.ini"}, FolderEntries(m_strWork));
}

}  // namespace
