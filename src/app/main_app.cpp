#include "app/main_app.h"

#include "platform/fs.h"

#include <filesystem>
#include <system_error>

#include "app/text_table.h"
#include "platform/user_store.h"

// A version part CMake leaves empty counts as 0.
#define KELTO_VERSION_PART(x) (x + 0)

namespace kelto {
namespace {

struct StoredField {
    const char* name;
    uint32_t Settings::*flag;  // nullptr: HashValue
};

// The order in which the values are exchanged.
const StoredField kStoredFields[] = {
    {"Zero", &Settings::Zero},
    {"Rand", &Settings::Rand},
    {"Confirm", &Settings::Confirm},
    {"PasswordMask", &Settings::PasswordMask},
    {"WriteReadOnly", &Settings::WriteReadOnly},
    {"AutoExit", &Settings::AutoExit},
    {"HashCheck", &Settings::HashCheck},
    {"HashValue", nullptr},
    {"RandomeName", &Settings::RandomeName},
    {"AlwayExit", &Settings::AlwayExit},
    {"UsePassword", &Settings::UsePassword},
    {"ShellExcute", &Settings::ShellExcute},
    {"AliasWrite", &Settings::AliasWrite},
    {"OverWrite", &Settings::OverWrite},
    {"RamTemp", &Settings::RamTemp},
};

}  // namespace

CMainApp& theApp() {
    static CMainApp app;
    return app;
}

void CMainApp::SetDefaultSettings() {
    m_settings = Settings{};
    AutoStart = 0;
    SingleFileJob = 0;
    m_log.Clear();
}

void CMainApp::ExchangeSettings(bool bSave) {
    const std::string used = GetText("used");
    CUserStoreKey key;
    if (!key.Create(RegistryKeyPath)) return;

    StoreValue v;
    if (bSave) {
        v.type = REG_SZ;
        v.data = used;
        v.data += '\0';
        key.SetValue("", v);
    } else {
        key.QueryValue("", v);  // read as ever; nothing depends on it
    }

    for (const StoredField& f : kStoredFields) {
        if (!f.flag) {
            if (bSave) {
                v.type = REG_BINARY;
                v.data = m_settings.HashValue;
                key.SetValue(f.name, v);
            } else {
                m_settings.HashValue = key.QueryValue(f.name, v) ? v.data : std::string();
            }
            continue;
        }
        uint32_t& field = m_settings.*f.flag;
        if (bSave) {
            v.type = REG_DWORD;
            v.data.clear();
            for (int i = 0; i < 4; ++i) v.data += static_cast<char>((field >> (8 * i)) & 0xFF);
            key.SetValue(f.name, v);
        } else if (key.QueryValue(f.name, v) && v.data.size() <= 4) {
            // The stored bytes go straight into the field, whatever the type.
            for (size_t i = 0; i < v.data.size(); ++i) {
                uint32_t shift = 8 * static_cast<uint32_t>(i);
                field = (field & ~(0xFFu << shift)) |
                        (static_cast<uint32_t>(static_cast<unsigned char>(v.data[i])) << shift);
            }
        }
    }
    key.Close();
}

void CMainApp::FixHashValue() {
    if (m_settings.HashValue.size() < 20) m_settings.HashValue.assign(20, '\0');
}

void CMainApp::LoadAtStartUp() {
    SetDefaultSettings();
    BuildPaths();
    LoadVersionText();
    ExchangeSettings(false);
    FixHashValue();
}

void CMainApp::BuildPaths() {
    ModulePath = GetModuleFilePath();
    size_t slash = ModulePath.rfind('/');
    ModuleDir = slash == std::string::npos ? std::string() : ModulePath.substr(0, slash);
    ModuleName = slash == std::string::npos ? ModulePath : ModulePath.substr(slash + 1);
    WindowsDir = "/usr";
    SystemDir = "/usr/lib";
    SystemRoot = "/";
    RegistryKeyPath = "Software\\Tessaron\\Kelto";
}

void CMainApp::LoadVersionText() {
    VersionText = FormatVersionText(KELTO_VERSION_PART(KELTO_VERSION_MAJOR), KELTO_VERSION_PART(KELTO_VERSION_MINOR),
                                    KELTO_VERSION_PART(KELTO_VERSION_PATCH), KELTO_VERSION_PART(KELTO_VERSION_TWEAK));
}

}  // namespace kelto
