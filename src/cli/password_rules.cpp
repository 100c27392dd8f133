#include "cli/password_rules.h"

#include <algorithm>
#include <cstdint>

#include "crypto/sha1.h"

namespace kelto::cli {

PasswordVerdict CheckPassword(int runMode, bool confirm, bool usePassword, const std::string& upper,
                              const std::string& lower) {
    auto accept = [](const std::string& pw, const char* notice = "") {
        return PasswordVerdict{true, pw, notice};
    };
    auto refuse = [](const char* notice) { return PasswordVerdict{false, "", notice}; };

    if (!confirm) {
        if (usePassword && upper.empty()) return refuse("パスワードを入力してください。");
        return accept(upper);
    }
    if (runMode == 2) {
        if (!upper.empty() && lower.empty()) return accept(upper, "上部のパスワードが有効になります。");
        if (upper.empty() && !lower.empty()) return accept(lower, "下部のパスワードが有効になります。");
        if (upper != lower) return accept(upper, "上下パスワードが一致しません。上部のパスワードが有効になります。");
        return accept(upper);
    }
    if (usePassword) {
        if (upper.empty()) return refuse("上部にパスワードを入力してください。");
        if (lower.empty()) return refuse("下部にもパスワードを入力してください。");
        if (upper != lower) return refuse("パスワードが一致しません。");
        return accept(upper);
    }
    if (upper.empty() && !lower.empty()) return refuse("上部にもパスワードを入力してください。");
    if (!upper.empty() && lower.empty()) return refuse("下部にもパスワードを入力してください。");
    if (upper != lower) return refuse("上下パスワードが一致しません。");
    return accept(upper);
}

std::string PasswordDigest(const std::string& password) {
    CSha1 sha;
    uint8_t out[20] = {};
    uint32_t capacity = sizeof out;
    sha.Digest(out, &capacity, reinterpret_cast<const uint8_t*>(password.data()),
               static_cast<uint32_t>(password.size()));
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

bool DigestMatches(const std::string& hashValue, const std::string& digest) {
    std::string stored = hashValue.substr(0, 20);
    if (stored.size() < 20) return true;  // too short counts as none stored
    if (stored == digest) return true;
    return std::all_of(stored.begin(), stored.end(), [](char c) { return c == '\0'; });
}

}  // namespace kelto::cli
