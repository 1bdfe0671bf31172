// Times the INI store at the size of a large resume file (100,000 records of nine keys) and at a
// quarter and half of it, to show every step grows linearly and stays within two seconds.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <random>
#include <string>
#include <vector>

#include "ini/QvIniFile.h"

using _VelmoUpload::QvIniFile;

namespace {

const double kBoundSeconds = 2.0;
const char* const kStepNames[] = {"load", "update", "save", "remove", "save-empty"};
const int kSteps = 5;

struct Run {
    int nSections = 0;
    double seconds[kSteps] = {};
    bool bCorrect = true;
};

std::string SectionName(int i) {
    char buf[64];
    snprintf(buf, sizeof(buf), "/home/u/folder/sub/file_%06d.bin", i);
    return buf;
}

// Keys in byte order, as the store itself would write them.
std::string ResumeText(int nSections) {
    std::string strText;
    strText.reserve(static_cast<size_t>(nSections) * 420);
    char buf[512];
    for (int i = 0; i < nSections; ++i) {
        snprintf(buf, sizeof(buf),
                 "[%s]\n"
                 "filehash=%040X\n"
                 "filemd=%08x%08x%08x%08x%08x\n"
                 "filesize=%d\n"
                 "folderpath=/home/u/folder/sub\n"
                 "foldertarget=U_1_%d\n"
                 "isp=0\n"
                 "pickcode=pc%06d\n"
                 "target=U_1_%d\n"
                 "uploadsize=0\n",
                 SectionName(i).c_str(), i, i, i * 7, i * 13, i * 31, i * 61, 1048576 + i, i % 97,
                 i, i % 97);
        strText += buf;
    }
    return strText;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Run Measure(const std::string& strFolder, int nSections) {
    Run run;
    run.nSections = nSections;
    const std::string strPath = strFolder + "/resume.ini";
    {
        const std::string strText = ResumeText(nSections);
        FILE* pFile = fopen(strPath.c_str(), "wb");
        if (!pFile || fwrite(strText.data(), 1, strText.size(), pFile) != strText.size()) {
            fprintf(stderr, "cannot write %s\n", strPath.c_str());
            exit(2);
        }
        fclose(pFile);
    }
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(nSections));
    for (int i = 0; i < nSections; ++i)
        names.push_back(SectionName(i));
    // Removal in file order would flatter a store that searches its list from the front.
    std::vector<std::string> removalOrder = names;
    std::shuffle(removalOrder.begin(), removalOrder.end(), std::mt19937(42));

    QvIniFile ini;
    std::list<std::string> sections;
    auto start = std::chrono::steady_clock::now();
    run.bCorrect &= ini.Load(strPath);
    run.seconds[0] = SecondsSince(start);
    ini.GetSections(sections);
    run.bCorrect &= sections.size() == names.size();

    start = std::chrono::steady_clock::now();
    for (const std::string& strName : names)
        ini.Update(strName, "uploadsize", "1048576");
    run.seconds[1] = SecondsSince(start);

    start = std::chrono::steady_clock::now();
    run.bCorrect &= ini.Save("");
    run.seconds[2] = SecondsSince(start);

    start = std::chrono::steady_clock::now();
    for (const std::string& strName : removalOrder)
        ini.RemoveSection(strName);
    run.seconds[3] = SecondsSince(start);
    ini.GetSections(sections);
    run.bCorrect &= sections.empty();

    start = std::chrono::steady_clock::now();
    run.bCorrect &= ini.Save("");
    run.seconds[4] = SecondsSince(start);

    unlink(strPath.c_str());
    return run;
}

}  // namespace

int main() {
    const char* pTmp = getenv("TMPDIR");
    std::string strTemplate = std::string(pTmp && *pTmp ? pTmp : "/tmp") + "/ini-bench-XXXXXX";
    std::vector<char> folder(strTemplate.begin(), strTemplate.end());
    folder.push_back('\0');
    if (!mkdtemp(folder.data())) {
        perror("mkdtemp");
        return 2;
    }

    // The store prints a line per saved section; a hundred thousand of them would bury the
    // figures, so the console is pointed at /dev/null while the steps run.
    fflush(stdout);
    int nSavedStdout = dup(STDOUT_FILENO);
    int nNull = open("/dev/null", O_WRONLY);
    dup2(nNull, STDOUT_FILENO);
    close(nNull);

    Measure(folder.data(), 10000);  // warm the allocator and page cache; not reported
    std::vector<Run> runs;
    for (int nSections : {25000, 50000, 100000})
        runs.push_back(Measure(folder.data(), nSections));

    fflush(stdout);
    dup2(nSavedStdout, STDOUT_FILENO);
    close(nSavedStdout);
    rmdir(folder.data());

    printf("%-10s", "sections");
    for (const char* pStep : kStepNames)
        printf("%12s", pStep);
    printf("\n");
    for (const Run& run : runs) {
        printf("%-10d", run.nSections);
        for (double seconds : run.seconds)
            printf("%11.3fs", seconds);
        printf("\n");
    }
    for (size_t i = 1; i < runs.size(); ++i) {
        char label[32];
        snprintf(label, sizeof(label), "x%d/%d", runs[i].nSections / 1000,
                 runs[i - 1].nSections / 1000);
        printf("%-10s", label);
        for (int step = 0; step < kSteps; ++step)
            printf("%12.2f", runs[i].seconds[step] / std::max(runs[i - 1].seconds[step], 1e-6));
        printf("\n");
    }
    printf("(growth ratios near 2 are linear; 4 would be quadratic)\n");

    int nFailures = 0;
    const Run& largest = runs.back();
    for (int step = 0; step < kSteps; ++step) {
        bool bMet = largest.seconds[step] <= kBoundSeconds;
        printf("%-11s at %d sections: %.3fs, %s the %.0f s bound\n", kStepNames[step],
               largest.nSections, largest.seconds[step], bMet ? "within" : "MISSES", kBoundSeconds);
        if (!bMet)
            ++nFailures;
    }
    for (const Run& run : runs) {
        if (!run.bCorrect) {
            printf("store gave wrong results at %d sections\n", run.nSections);
            ++nFailures;
        }
    }
    return nFailures == 0 ? 0 : 1;
}
