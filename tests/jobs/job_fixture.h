// A worker of the test's own, the application state a job reads saved and
// put back, and a scratch folder with a "drive" folder whose type each test
// chooses.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "app/text_table.h"
#include "engine/copy_wipe.h"
#include "engine/crypt_worker.h"
#include "jobs/jobs.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "support/log_capture.h"
#include "test_util.h"

namespace kelto::test {

class JobTest : public ::testing::Test {
protected:
    void SetUp() override {
        TextTable().SetBuiltInTexts();
        CMainApp& app = theApp();
        m_savedSettings = app.m_settings;
        m_savedRunMode = app.RunMode;
        m_savedPaths = {app.ModulePath, app.SystemDir, app.WindowsDir, app.SystemRoot};
        app.m_settings = Settings{};
        app.RunMode = 0;
        app.ModulePath = app.SystemDir = app.WindowsDir = app.SystemRoot = "";
        std::filesystem::create_directories(drive);
        worker.m_stream.SetKey("secret");
        worker.m_password = "secret";
        g_pollCount = 0;
    }
    void TearDown() override {
        CMainApp& app = theApp();
        app.m_settings = m_savedSettings;
        app.RunMode = m_savedRunMode;
        app.ModulePath = m_savedPaths[0];
        app.SystemDir = m_savedPaths[1];
        app.WindowsDir = m_savedPaths[2];
        app.SystemRoot = m_savedPaths[3];
        g_pollCount = 0;
    }

    // Files on the test's drive go through the temporary folder when the
    // drive is removable (2) or a RAM disk (6) and RamTemp is on.
    void UseDriveType(int type) { fault::SetDriveType(drive, type); }

    CryptItem Item(const std::string& path, int action) {
        CryptItem item;
        item.path = path;
        item.action = action;
        item.driveType = GetDriveTypeOf(path);
        FindEntry e;
        if (LookupEntry(path, e)) item.size = e.size;
        return item;
    }

    // Names in `folder` (no "." or "..").
    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(folder)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    // The one file in `folder` whose name ends in `suffix`, or "".
    static std::string OnlyFileEndingIn(const std::string& folder, const std::string& suffix) {
        std::string found;
        int count = 0;
        for (const std::string& n : Names(folder))
            if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) {
                found = folder + "/" + n;
                ++count;
            }
        return count == 1 ? found : "";
    }

    int Encrypt(const std::string& path) { return EncryptFileJob(worker, Item(path, ACTION_ENCRYPT)); }
    int Decrypt(const std::string& path) { return DecryptFileJob(worker, Item(path, ACTION_DECRYPT)); }

    // The problem lines logged so far, as "caption|text".
    std::vector<std::string> Problems() {
        std::vector<std::string> out;
        for (const LogLine& l : log.Problems()) out.push_back(l.caption + "|" + l.text);
        return out;
    }

    static int64_t MTime(const std::string& path) {
        CFileStatus st;
        return CFile::GetStatus(path, st) ? st.m_mtimeSec : -1;
    }
    static void SetMTime(const std::string& path, int64_t seconds) {
        CFileStatus st;
        ASSERT_TRUE(CFile::GetStatus(path, st));
        st.m_mtimeSec = st.m_atimeSec = seconds;
        st.m_mtimeNsec = st.m_atimeNsec = 0;
        CFile::SetStatus(path, st);
    }
    static bool IsReadOnly(const std::string& path) {
        return (GetFileAttributesOf(path) & FILE_ATTRIBUTE_READONLY) != 0;
    }

    static std::string Pattern(size_t size, uint32_t seed = 7) {
        std::string s(size, '\0');
        for (auto& c : s) {
            seed = seed * 1103515245 + 12345;
            c = static_cast<char>(seed >> 24);
        }
        return s;
    }

    ScratchDir dir;
    const std::string drive = dir / "vol";
    const std::string temp = dir / "tmp";
    const std::string desk = dir / "desktop";
    LogCapture log;
    CCryptWorker worker;

private:
    Settings m_savedSettings;
    int m_savedRunMode = 0;
    std::vector<std::string> m_savedPaths;
};

}  // namespace kelto::test
