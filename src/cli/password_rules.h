// Which password a run gets from the two answers, and the digest of the
// password of the previous encryption.
#pragma once

#include <string>

namespace kelto::cli {

struct PasswordVerdict {
    bool accepted = false;
    std::string password;
    std::string notice;  // the text to log, empty when there is none
};

// runMode 0, 1 or 2; `lower` is only looked at when confirm is on.
PasswordVerdict CheckPassword(int runMode, bool confirm, bool usePassword, const std::string& upper,
                              const std::string& lower);

// The 20-byte digest kept as HashValue.
std::string PasswordDigest(const std::string& password);

// true when the stored digest lets the password through without a question:
// the same digest, or none stored yet (all zero).
bool DigestMatches(const std::string& hashValue, const std::string& digest);

}  // namespace kelto::cli
