#include "engine/collect.h"


#include "app/main_app.h"
#include "app/message_log.h"
#include "app/text_table.h"
#include "engine/file_helpers.h"
#include "platform/fs.h"

namespace kelto {
namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y) return false;
    }
    return true;
}

bool EndsWithCpy(const std::string& path, bool ignoreCase) {
    if (path.size() < 4) return false;
    const std::string tail = path.substr(path.size() - 4);
    return ignoreCase ? EqualsIgnoringCase(tail, ".cpy") : tail == ".cpy";
}

// Folders of the running system, refused as the System folder is.
const char* const kSystemFolders[] = {"/bin", "/boot", "/dev",  "/etc", "/lib", "/lib32",
                                      "/lib64", "/proc", "/run", "/sbin", "/sys", "/var"};

}  // namespace

int CollectWorkItems(CCryptWorker& worker) {
    worker.m_bytesDone = 0;
    worker.m_bytesTotal = 0;
    CryptItem target;
    while (worker.TakeTarget(target)) WalkTarget(worker, target.path);
    return 1;
}

void WalkTarget(CCryptWorker& worker, const std::string& path) {
    // A target is the entry of its own path; a root is listed instead.
    std::vector<FindEntry> entries;
    if (IsDriveRoot(path)) {
        entries = ListFolder("/");
    } else {
        FindEntry self;
        if (LookupEntry(path, self)) entries.push_back(std::move(self));
    }
    for (const FindEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        if (entry.kind == EntryKind::File) {
            CryptItem record;
            record.path = entry.path;
            if (AcceptFile(record)) AddWorkItem(worker, record, entry);
        } else if (entry.kind == EntryKind::Folder) {
            if (IsProtectedFolder(entry.path)) continue;
            for (const FindEntry& inner : ListFolder(entry.path)) {
                if (inner.name == "." || inner.name == "..") continue;
                CryptItem queued;
                queued.path = inner.path;
                worker.AppendTarget(queued);
            }
        }
        // Links, devices, FIFOs and sockets are never worked on or followed.
    }
}

int IsProtectedFolder(const std::string& path) {
    const CMainApp& app = theApp();
    if (!app.SystemRoot.empty() && EqualsIgnoringCase(path, app.SystemRoot)) {
        LogInfo("", GetText("error_directory_systemroot"));
        return 1;
    }
    bool system = !app.SystemDir.empty() && EqualsIgnoringCase(path, app.SystemDir);
    for (const char* folder : kSystemFolders) system = system || EqualsIgnoringCase(path, folder);
    if (system) {
        LogInfo("", GetText("error_directory_system"));
        return 1;
    }
    if (!app.WindowsDir.empty() && EqualsIgnoringCase(path, app.WindowsDir)) {
        LogInfo("", GetText("error_directory_windows"));
        return 1;
    }
    return 0;
}

int AcceptFile(const CryptItem& record) {
    if (!theApp().ModulePath.empty() && EqualsIgnoringCase(record.path, theApp().ModulePath)) return 0;
    const bool isCpy = EndsWithCpy(record.path, true);
    switch (theApp().RunMode) {
        case ACTION_ENCRYPT: return isCpy ? 0 : 1;
        case ACTION_DECRYPT: return isCpy ? 1 : 0;
        default: return 1;
    }
}

void AddWorkItem(CCryptWorker& worker, CryptItem record, const FindEntry& entry) {
    const Settings& settings = AppSettings();
    record.size = entry.size;
    record.driveType = GetDriveTypeOfPath(entry.path);
    record.action = theApp().RunMode;
    if (record.action == ACTION_NONE) record.action = DecideActionByName(record.path);
    const uint64_t size = record.size;
    const uint64_t passes = (settings.Zero ? size : 0) + (settings.Rand ? size : 0);
    const bool temp = UseTempForDrive(record.driveType) != 0;
    if (record.action == ACTION_ENCRYPT)
        record.extraWork = passes + (temp ? 2 * size + passes : 0);
    else
        record.extraWork = temp ? 2 * size + passes : 0;
    worker.AppendWorkItem(record);
    worker.m_bytesTotal += record.size;
    worker.m_extraTotal += record.extraWork;
}

int DecideActionByName(const std::string& path) {
    return path.size() >= 5 && EndsWithCpy(path, false) ? ACTION_DECRYPT : ACTION_ENCRYPT;
}

}  // namespace kelto
