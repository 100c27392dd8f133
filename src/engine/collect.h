// Targets into work items: the breadth-first walk, the protected folders,
// which files a run takes and in which direction.
#pragma once

#include <string>

#include "engine/crypt_worker.h"

namespace kelto {

struct FindEntry;

int CollectWorkItems(CCryptWorker& worker);
void WalkTarget(CCryptWorker& worker, const std::string& path);
int IsProtectedFolder(const std::string& path);
int AcceptFile(const CryptItem& record);
void AddWorkItem(CCryptWorker& worker, CryptItem record, const FindEntry& entry);
int DecideActionByName(const std::string& path);

}  // namespace kelto
