// Tests of the INI store: the line syntax Load accepts, the exact bytes and console lines of
// Save, the crash-safe replacement of the file, the section index, and concurrent use.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
    DIR* pDir = opendir(strFolder.c_str());
    if (!pDir)
        return entries;
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string strName = pEntry->d_name;
        if (strName != "." && strName != "..")
            entries.push_back(strName);
    }
    closedir(pDir);
    std::sort(entries.begin(), entries.end());
    return entries;
}

mode_t ModeOf(const std::string& strPath) {
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

class QvIniFileTest : public velmotest::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        m_strPath = m_strWork + "/store.ini";
    }

    // Loads the text into a fresh store at m_strPath.
    void LoadText(QvIniFile& ini, const std::string& strText) {
        WriteFile(m_strPath, strText);
        ASSERT_TRUE(ini.Load(m_strPath));
    }

    // Saves with the console lines captured, returning them.
    std::string SaveCapturingStdout(QvIniFile& ini, const std::string& strPath, bool bExpect) {
        testing::internal::CaptureStdout();
        bool bSaved = ini.Save(strPath);
        std::string strOut = testing::internal::GetCapturedStdout();
        EXPECT_EQ(bExpect, bSaved);
        return strOut;
    }

    std::string m_strPath;
};

// ---- Load: the line syntax ----

TEST_F(QvIniFileTest, LoadTakesOnlyLinesEndedByLineFeed) {
    QvIniFile ini;
    LoadText(ini, "[s]\nk=v\n");
    EXPECT_EQ(Names({"s"}), SectionsOf(ini));
    EXPECT_EQ("v", ValueOf(ini, "s", "k"));

    // The unterminated key line is dropped, but the content is still replaced.
    QvIniFile cut;
    cut.Update("old", "k", "1");
    LoadText(cut, "[s]\nk=v");
    EXPECT_EQ(Names({"s"}), SectionsOf(cut));
    EXPECT_EQ("<missing>", ValueOf(cut, "s", "k"));
    EXPECT_EQ("<missing>", ValueOf(cut, "old", "k"));
}

TEST_F(QvIniFileTest, KeysBeforeAnyHeaderAreReadableButNeverSaved) {
    QvIniFile ini;
    LoadText(ini, "k=v\n[s]\nx=1\n");
    EXPECT_EQ("v", ValueOf(ini, "", "k"));
    EXPECT_EQ(Names({"s"}), SectionsOf(ini));
    SaveCapturingStdout(ini, "", true);
    EXPECT_EQ("[s]\nx=1\n", ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, RepeatedHeaderResetsKeysAndIsListedTwice) {
    QvIniFile ini;
    LoadText(ini, "[s]\nb=2\na=1\n[t]\n[s]\nc=3\n");
    EXPECT_EQ(Names({"s", "t", "s"}), SectionsOf(ini));
    EXPECT_EQ("<missing>", ValueOf(ini, "s", "a"));
    EXPECT_EQ("<missing>", ValueOf(ini, "s", "b"));
    EXPECT_EQ("3", ValueOf(ini, "s", "c"));
    SaveCapturingStdout(ini, "", true);
    EXPECT_EQ("[s]\nc=3\n[t]\n[s]\nc=3\n", ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, LinesAreTrimmedOnceAndSplitAtTheFirstEquals) {
    QvIniFile ini;
    LoadText(ini,
             "[ a ]\n"
             "  key = value  \n"
             "a=b=c\n"
             "\t\n"
             "\n"
             "[abc\n"
             "abc\n"
             "# a comment\n"
             "; note=kept\n"
             "[abc]=1\n"
             "=empty key\n"
             "novalue=\n"
             "[]\n"
             "x=y\n"
             "[q=r]\n");
    EXPECT_EQ(Names({" a ", "", "q=r"}), SectionsOf(ini));
    EXPECT_EQ(" value", ValueOf(ini, " a ", "key "));
    EXPECT_EQ("b=c", ValueOf(ini, " a ", "a"));
    EXPECT_EQ("kept", ValueOf(ini, " a ", "; note"));
    EXPECT_EQ("1", ValueOf(ini, " a ", "[abc]"));
    EXPECT_EQ("empty key", ValueOf(ini, " a ", ""));
    EXPECT_EQ("", ValueOf(ini, " a ", "novalue"));
    EXPECT_EQ("y", ValueOf(ini, "", "x"));
    // Nothing else slipped in from the ignored lines.
    SaveCapturingStdout(ini, "", true);
    EXPECT_EQ(
        "[ a ]\n"
        "=empty key\n"
        "; note=kept\n"
        "[abc]=1\n"
        "a=b=c\n"
        "key = value\n"
        "novalue=\n"
        "[]\n"
        "x=y\n"
        "[q=r]\n",
        ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, CarriageReturnLineFeedReadsLikeLineFeed) {
    const std::string strLf = "k=v\n[s]\nb=2\na=1\n\n[t]\nx= y\n";
    std::string strCrLf;
    for (char c : strLf) {
        if (c == '\n')
            strCrLf += '\r';
        strCrLf += c;
    }
    QvIniFile lf;
    QvIniFile crlf;
    LoadText(lf, strLf);
    SaveCapturingStdout(lf, "", true);
    const std::string strLfSaved = ReadFile(m_strPath);
    LoadText(crlf, strCrLf);
    SaveCapturingStdout(crlf, "", true);
    const std::string strCrLfSaved = ReadFile(m_strPath);
    EXPECT_EQ(SectionsOf(lf), SectionsOf(crlf));
    EXPECT_EQ(ValueOf(lf, "", "k"), ValueOf(crlf, "", "k"));
    EXPECT_EQ(strLfSaved, strCrLfSaved);
    EXPECT_EQ("[s]\na=1\nb=2\n[t]\nx= y\n", strCrLfSaved);
}

TEST_F(QvIniFileTest, EmptyOrUnreadableFileKeepsTheContentInMemory) {
    QvIniFile ini;
    ini.Update("s", "k", "v");

    WriteFile(m_strPath, "");
    EXPECT_TRUE(ini.Load(m_strPath));
    EXPECT_EQ(Names({"s"}), SectionsOf(ini));
    EXPECT_EQ("v", ValueOf(ini, "s", "k"));

    EXPECT_FALSE(ini.Load(m_strWork + "/missing.ini"));
    EXPECT_FALSE(ini.Load(m_strWork));  // a folder reads as an error, not as an empty file
    EXPECT_EQ(Names({"s"}), SectionsOf(ini));
    EXPECT_EQ("v", ValueOf(ini, "s", "k"));

    QvIniFile noPath;
    EXPECT_FALSE(noPath.Load(""));
}

TEST_F(QvIniFileTest, PathGivenToLoadOrConstructorIsUsedByLaterCalls) {
    WriteFile(m_strPath, "[s]\nk=v\n");
    QvIniFile byCtor(m_strPath);
    EXPECT_TRUE(SectionsOf(byCtor).empty());  // the constructor does not read
    ASSERT_TRUE(byCtor.Load(""));
    EXPECT_EQ("v", ValueOf(byCtor, "s", "k"));

    QvIniFile byLoad;
    ASSERT_TRUE(byLoad.Load(m_strPath));
    byLoad.Update("s", "k", "w");
    SaveCapturingStdout(byLoad, "", true);
    EXPECT_EQ("[s]\nk=w\n", ReadFile(m_strPath));

    // A failed Load still moves the path.
    EXPECT_FALSE(byLoad.Load(m_strWork + "/other.ini"));
    SaveCapturingStdout(byLoad, "", true);
    EXPECT_EQ("[s]\nk=w\n", ReadFile(m_strWork + "/other.ini"));
}

// ---- in-memory operations ----

TEST_F(QvIniFileTest, UpdateAppendsNewSectionsAndOverwritesValuesInPlace) {
    QvIniFile ini;
    LoadText(ini, "[b]\nk=1\n[a]\n");
    ini.Update("new", "b", "2");
    ini.Update("new", "a", "1");
    ini.Update("new", "a", "changed");
    ini.Update("a", "k", "x");  // an existing section keeps its place
    EXPECT_EQ(Names({"b", "a", "new"}), SectionsOf(ini));
    SaveCapturingStdout(ini, "", true);
    EXPECT_EQ("[b]\nk=1\n[a]\nk=x\n[new]\na=changed\nb=2\n", ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, GetValueLeavesTheOutputAloneWhenNothingMatches) {
    QvIniFile ini;
    ini.Update("s", "empty", "");
    std::string strValue = "untouched";
    EXPECT_FALSE(ini.GetValue("s", "other", strValue));
    EXPECT_FALSE(ini.GetValue("S", "empty", strValue));  // names are compared exactly
    EXPECT_EQ("untouched", strValue);
    EXPECT_TRUE(ini.GetValue("s", "empty", strValue));
    EXPECT_EQ("", strValue);
}

TEST_F(QvIniFileTest, RemoveKeyKeepsTheSectionEvenWhenEmpty) {
    QvIniFile ini(m_strPath);
    ini.Update("s", "k", "v");
    ini.Update("t", "k", "v");
    ini.RemoveKey("s", "k");
    ini.RemoveKey("s", "k");
    ini.RemoveKey("missing", "k");
    EXPECT_EQ(Names({"s", "t"}), SectionsOf(ini));
    SaveCapturingStdout(ini, "", true);
    EXPECT_EQ("[s]\n[t]\nk=v\n", ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, ClearKeepsThePath) {
    QvIniFile ini(m_strPath);
    ini.Update("s", "k", "v");
    ini.Clear();
    EXPECT_TRUE(SectionsOf(ini).empty());
    EXPECT_EQ("<missing>", ValueOf(ini, "s", "k"));
    ini.Update("t", "k", "v");
    SaveCapturingStdout(ini, "", true);
    EXPECT_EQ("[t]\nk=v\n", ReadFile(m_strPath));
}

// ---- Save: bytes and console lines ----

TEST_F(QvIniFileTest, SaveWritesSectionsInListOrderAndKeysInByteOrder) {
    QvIniFile ini;
    ini.Update("/home/u/b.bin", "target", "U_1_0");
    ini.Update("/home/u/b.bin", "Filesize", "10");
    ini.Update("/home/u/b.bin", "filehash", "ABC");
    ini.Update("/home/u/a.bin", "z", "");
    ini.Update("/home/u/a.bin", "_", "x y");
    std::string strOut = SaveCapturingStdout(ini, m_strPath, true);
    EXPECT_EQ(
        "[/home/u/b.bin]\n"
        "Filesize=10\n"
        "filehash=ABC\n"
        "target=U_1_0\n"
        "[/home/u/a.bin]\n"
        "_=x y\n"
        "z=\n",
        ReadFile(m_strPath));
    EXPECT_EQ("[/home/u/b.bin]\n[/home/u/a.bin]\nsave : 2\n", strOut);
}

TEST_F(QvIniFileTest, SaveOfAnEmptyStoreWritesAnEmptyFile) {
    QvIniFile ini;
    WriteFile(m_strPath, "[old]\nk=v\n");
    EXPECT_EQ("save : 0\n", SaveCapturingStdout(ini, m_strPath, true));
    EXPECT_EQ("", ReadFile(m_strPath));
}

TEST_F(QvIniFileTest, SaveWithoutAPathWritesNothing) {
    QvIniFile ini;
    ini.Update("s", "k", "v");
    EXPECT_EQ("", SaveCapturingStdout(ini, "", false));
    EXPECT_TRUE(FolderEntries(m_strWork).empty());
}

TEST_F(QvIniFileTest, SaveIntoAMissingFolderFailsWithoutTheCountLine) {
    QvIniFile ini;
    ini.Update("s", "k", "v");
    std::string strOut = SaveCapturingStdout(ini, m_strWork + "/no/such/store.ini", false);
    EXPECT_EQ("[s]\n", strOut);
    EXPECT_TRUE(FolderEntries(m_strWork).empty());
    // The content survives for a later attempt.
    EXPECT_EQ("v", ValueOf(ini, "s", "k"));
}

// ---- Save: crash-safe replacement ----

TEST_F(QvIniFileTest, SavedFileIsOwnerOnlyWhateverTheOldModeOrUmask) {
    QvIniFile ini;
    ini.Update("s", "k", "v");

    WriteFile(m_strPath, "old\n");
    ASSERT_EQ(0, chmod(m_strPath.c_str(), 0644));
    SaveCapturingStdout(ini, m_strPath, true);
    EXPECT_EQ(0600u, ModeOf(m_strPath));

    // A strict umask must not leave a file the next save cannot be read back from.
    std::string strNew = m_strWork + "/new.ini";
    mode_t oldMask = umask(0277);
    SaveCapturingStdout(ini, strNew, true);
    umask(oldMask);
    EXPECT_EQ(0600u, ModeOf(strNew));
    EXPECT_EQ("[s]\nk=v\n", ReadFile(strNew));
    EXPECT_EQ((std::vector<std::string>{"new.ini", "store.ini"}), FolderEntries(m_strWork));
}

TEST_F(QvIniFileTest, FailedRenameLeavesTargetAndNoTemporaryFile) {
    // A folder in the target's place makes the final rename fail, even for root.
    ASSERT_EQ(0, mkdir(m_strPath.c_str(), 0700));
    QvIniFile ini;
    ini.Update("s", "k", "v");
    SaveCapturingStdout(ini, m_strPath, false);
    EXPECT_EQ(std::vector<std::string>{"store.ini"}, FolderEntries(m_strWork));
    EXPECT_TRUE(FolderEntries(m_strPath).empty());
}

TEST_F(QvIniFileTest, FailedWriteLeavesTheOldFileWhole) {
    const std::string strOld = "[keep]\nk=v\n";
    WriteFile(m_strPath, strOld);
    QvIniFile ini;
    ini.Update("s", "k", std::string(4096, 'x'));

    // A file-size limit makes the write fail part-way, as a full disk would.
    struct rlimit oldLimit;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &oldLimit));
    struct rlimit smallLimit = oldLimit;
    smallLimit.rlim_cur = 512;
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &smallLimit));
    testing::internal::CaptureStdout();
    bool bSaved = ini.Save(m_strPath);
    testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(bSaved);
    EXPECT_EQ(strOld, ReadFile(m_strPath));
    EXPECT_EQ(std::vector<std::string>{"store.ini"}, FolderEntries(m_strWork));
}

TEST_F(QvIniFileTest, SaveIntoAReadOnlyFolderFailsAndKeepsTheOldFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    WriteFile(m_strPath, "[keep]\n");
    ASSERT_EQ(0, chmod(m_strWork.c_str(), 0500));
    QvIniFile ini;
    ini.Update("s", "k", "v");
    testing::internal::CaptureStdout();
    bool bSaved = ini.Save(m_strPath);
    testing::internal::GetCapturedStdout();
    chmod(m_strWork.c_str(), 0700);
    EXPECT_FALSE(bSaved);
    EXPECT_EQ("[keep]\n", ReadFile(m_strPath));
    EXPECT_EQ(std::vector<std::string>{"store.ini"}, FolderEntries(m_strWork));
}

// ---- the index behind RemoveSection ----

TEST_F(QvIniFileTest, RemoveSectionTakesTheFirstOccurrenceOfARepeatedName) {
    QvIniFile ini;
    LoadText(ini, "[s]\nc=3\n[t]\nk=1\n[s]\nc=4\n");
    ini.RemoveSection("s");
    EXPECT_EQ(Names({"t", "s"}), SectionsOf(ini));
    // The keys went with the first entry; the later entry has nothing left to write.
    EXPECT_EQ("<missing>", ValueOf(ini, "s", "c"));
    EXPECT_EQ("[t]\nsave : 2\n", SaveCapturingStdout(ini, "", true));
    EXPECT_EQ("[t]\nk=1\n", ReadFile(m_strPath));

    // The section is gone from the content, so Update lists the name again at the end.
    ini.Update("s", "k", "v");
    EXPECT_EQ(Names({"t", "s", "s"}), SectionsOf(ini));
    ini.RemoveSection("s");
    EXPECT_EQ(Names({"t", "s"}), SectionsOf(ini));
    ini.RemoveSection("s");
    ini.RemoveSection("s");
    ini.RemoveSection("never");
    EXPECT_EQ(Names({"t"}), SectionsOf(ini));
}

TEST_F(QvIniFileTest, RepeatedHeaderRemovedTwiceLeavesAnEmptyList) {
    QvIniFile ini;
    LoadText(ini, "[s]\n[s]\n");
    ini.RemoveSection("s");
    ini.RemoveSection("s");
    EXPECT_TRUE(SectionsOf(ini).empty());
    ini.Update("s", "k", "v");
    EXPECT_EQ(Names({"s"}), SectionsOf(ini));
}

TEST_F(QvIniFileTest, LoadAndClearForgetTheOldNames) {
    QvIniFile ini;
    ini.Update("old", "k", "v");
    LoadText(ini, "[s]\n");
    ini.RemoveSection("old");
    EXPECT_EQ(Names({"s"}), SectionsOf(ini));

    ini.Clear();
    ini.RemoveSection("s");
    ini.Update("s", "k", "v");
    ini.Update("old", "k", "v");
    EXPECT_EQ(Names({"s", "old"}), SectionsOf(ini));
    ini.RemoveSection("s");
    EXPECT_EQ(Names({"old"}), SectionsOf(ini));
}

// A plain list-and-map model with a linear search, checked against the store after every step
// of a long random run that includes saving and reloading files with repeated headers.
TEST_F(QvIniFileTest, IndexAgreesWithALinearModelOverRandomOperations) {
    struct Model {
        Names list;
        std::map<std::string, std::map<std::string, std::string>> content;
    } model;
    QvIniFile ini(m_strPath);
    std::mt19937 rng(12345);
    const char* names[] = {"a", "b", "c", "d", ""};

    testing::internal::CaptureStdout();
    for (int step = 0; step < 4000; ++step) {
        std::string strName = names[rng() % 5];
        std::string strKey = std::string(1, static_cast<char>('k' + rng() % 3));
        std::string strValue = std::to_string(step);
        switch (rng() % 10) {
            case 0:
            case 1:
            case 2:
            case 3:
                if (!model.content.count(strName))
                    model.list.push_back(strName);
                model.content[strName][strKey] = strValue;
                ini.Update(strName, strKey, strValue);
                break;
            case 4:
            case 5:
            case 6: {
                Names::iterator it = std::find(model.list.begin(), model.list.end(), strName);
                if (it != model.list.end()) {
                    model.list.erase(it);
                    model.content.erase(strName);
                }
                ini.RemoveSection(strName);
                break;
            }
            case 7:
                if (model.content.count(strName))
                    model.content[strName].erase(strKey);
                ini.RemoveKey(strName, strKey);
                break;
            case 8: {
                // Duplicated headers come back from disk; the model re-reads what was written.
                std::string strText;
                Names listed;
                for (const std::string& strSection : model.list) {
                    if (!model.content.count(strSection))
                        continue;
                    strText += "[" + strSection + "]\n";
                    for (const auto& kv : model.content[strSection])
                        strText += kv.first + "=" + kv.second + "\n";
                    listed.push_back(strSection);
                }
                strText += "[" + strName + "]\n";
                listed.push_back(strName);
                model.content[strName].clear();
                model.list = listed;
                for (auto it = model.content.begin(); it != model.content.end();) {
                    if (std::find(listed.begin(), listed.end(), it->first) == listed.end())
                        it = model.content.erase(it);
                    else
                        ++it;
                }
                WriteFile(m_strPath, strText);
                ASSERT_TRUE(ini.Load(""));
                break;
            }
            default:
                ini.Clear();
                model.list.clear();
                model.content.clear();
                break;
        }
        ASSERT_EQ(model.list, SectionsOf(ini)) << "step " << step;
        for (const char* pName : names) {
            for (const char* pKey : {"k", "l", "m"}) {
                std::string strExpected = "<missing>";
                auto itSection = model.content.find(pName);
                if (itSection != model.content.end() && itSection->second.count(pKey))
                    strExpected = itSection->second[pKey];
                ASSERT_EQ(strExpected, ValueOf(ini, pName, pKey)) << "step " << step;
            }
        }
    }
    testing::internal::GetCapturedStdout();
}

// ---- concurrent use ----

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
    // Whatever moment the file is read, it is one whole snapshot, never a truncated one.
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
