// Shared test helpers: a private scratch folder per test, with the platform
// seams pointed into it so that no test touches the user's own folders.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/fault.h"

namespace kelto::test {

class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        auto base = std::filesystem::temp_directory_path();
        for (;;) {
            auto p = base / ("kelto-test-" + std::to_string(rd()) + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) { m_path = p.string(); break; }
        }
        std::filesystem::create_directories(m_path + "/tmp");
        std::filesystem::create_directories(m_path + "/desktop");
        std::filesystem::create_directories(m_path + "/config");
        fault::ClearAll();
        fault::SetTempFolder(m_path + "/tmp");
        fault::SetDesktopFolder(m_path + "/desktop");
        fault::SetConfigHome(m_path + "/config");
    }
    ~ScratchDir() {
        fault::ClearAll();
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace kelto::test
