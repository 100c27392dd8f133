// The two long file operations of the jobs: a block copy with progress and
// a wipe (rename, overwrite passes, delete). Both honour the stop request.
#pragma once

#include <string>

namespace kelto {

class CCryptWorker;

inline constexpr int kCopyBlockSize = 100000;

// Blocks counted across the copies and wipes of one work item; the stop
// event is tested once it passes 1000.
extern int g_pollCount;

int CopyFileWithProgress(CCryptWorker& worker, const std::string& source, const std::string& destination);
int WipeFile(CCryptWorker& worker, const std::string& path);

}  // namespace kelto
