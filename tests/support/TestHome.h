// Test fixtures: every test gets its own temporary HOME, so the configuration folder
// (HOME/.Vurozudeduz/upload/) never leaks between tests or into the real home.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace velmotest {

// Removes a tree; used by the fixtures on tear-down.
void RemoveTree(const std::string& strPath);
// Writes bytes to a file, creating or truncating it; fails the test on error.
void WriteFile(const std::string& strPath, const std::string& strContent);
std::string ReadFile(const std::string& strPath);
// n bytes from a generator seeded with nSeed: the same bytes on every run.
std::string RandomBytes(size_t n, unsigned nSeed);

class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // HOME for this test; the engine's configuration folder lives below it.
    std::string m_strHome;
    // A scratch folder inside HOME for the test's own files.
    std::string m_strWork;

private:
    std::string m_strOldHome;
    bool m_bHadHome = false;
};

}  // namespace velmotest
