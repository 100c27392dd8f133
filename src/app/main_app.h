// The application object: owns the settings, the log queue, the paths and
// (from the job engine) the worker. One per process, reached by theApp().
#pragma once

#include <string>

#include "app/message_log.h"
#include "app/settings.h"
#include "engine/crypt_worker.h"

namespace kelto {

class CMainApp {
public:
    void SetDefaultSettings();
    void ExchangeSettings(bool bSave);
    // After loading: a HashValue shorter than 20 bytes becomes 20 zero bytes.
    void FixHashValue();
    // The start-up steps before any window: defaults, paths, version text,
    // the stored settings and their fix-up.
    void LoadAtStartUp();
    void BuildPaths();
    void LoadVersionText();
    // Drains the log queue into `view` (the UI thread, on its wake-up).
    void OnLogQueued(ILogView& view) { m_log.Drain(view); }

    Settings m_settings;
    // Run-time fields, never stored.
    int AutoStart = 0;
    int RunMode = 0;
    int SingleFileJob = 0;

    CMessageLog m_log;

    std::string ModulePath;
    std::string ModuleDir;
    std::string ModuleName;
    std::string RegistryKeyPath = "Software\\Tessaron\\Kelto";
    std::string SystemRoot;
    std::string SystemDir;
    std::string WindowsDir;
    std::string VersionText;

    // Declared last: its thread is stopped before the rest goes.
    CCryptWorker m_worker;
};

CMainApp& theApp();
inline Settings& AppSettings() { return theApp().m_settings; }

// "%d.%d%d%d" / "%d.%d%d" from a four-number version.
std::string FormatVersionText(unsigned a, unsigned b, unsigned c, unsigned d);

}  // namespace kelto
