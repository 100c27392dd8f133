// The options record; each field is named after its stored value.
#pragma once

#include <cstdint>
#include <string>

namespace kelto {

struct Settings {
    uint32_t Zero = 1;
    uint32_t Rand = 0;
    uint32_t Confirm = 1;
    uint32_t PasswordMask = 1;
    uint32_t WriteReadOnly = 1;
    uint32_t AutoExit = 0;
    uint32_t HashCheck = 1;
    std::string HashValue = std::string(20, '\0');
    uint32_t RandomeName = 1;
    uint32_t AlwayExit = 0;
    uint32_t UsePassword = 0;
    uint32_t ShellExcute = 1;
    uint32_t AliasWrite = 0;
    uint32_t OverWrite = 0;
    uint32_t RamTemp = 1;
};

}  // namespace kelto
