// One file encrypted or decrypted end to end, and the recovery behind the
// temporary route.
#pragma once

#include <string>

namespace kelto {

class CCryptWorker;
struct CryptItem;

enum class JobKind { Encrypt, Decrypt };

int EncryptFileJob(CCryptWorker& worker, const CryptItem& item);
int DecryptFileJob(CCryptWorker& worker, const CryptItem& item);

void RecoverJob(const std::string& anchor, const std::string& anchorTemp, const std::string& otherTemp,
                const std::string& other, JobKind kind, const std::string& failureText);

}  // namespace kelto
