#include "platform/fault.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

namespace kelto::fault {
namespace {

struct Fault {
    Op op;
    std::string path;
    int cause;
    long long afterBytes;
    int count;
};

struct Hook {
    Op op;
    std::string path;
    void (*fn)(const std::string&, void*);
    void* user;
};

struct State {
    std::mutex lock;
    std::vector<Fault> faults;
    std::vector<Hook> hooks;
    std::map<std::string, int> driveTypes;
    bool hasTemp = false, hasDesktop = false, hasConfig = false;
    std::string temp, desktop, config;
};

State& S() {
    static State s;
    return s;
}

std::atomic<bool> g_armed{false};

bool Matches(const std::string& pattern, const std::string& path) {
    if (!pattern.empty() && pattern.back() == '*')
        return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    return pattern == path;
}

void Rearm(State& s) {
    g_armed = !s.faults.empty() || !s.hooks.empty() || !s.driveTypes.empty() || s.hasTemp ||
              s.hasDesktop || s.hasConfig;
}

}  // namespace

void Inject(Op op, const std::string& path, int cause, long long afterBytes, int count) {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.faults.push_back({op, path, cause, afterBytes, count});
    Rearm(s);
}

void OnOperation(Op op, const std::string& path, void (*hook)(const std::string&, void*), void* user) {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.hooks.push_back({op, path, hook, user});
    Rearm(s);
}

void SetDriveType(const std::string& pathPrefix, int driveType) {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.driveTypes[pathPrefix] = driveType;
    Rearm(s);
}

void SetTempFolder(const std::string& folder) {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.hasTemp = true;
    s.temp = folder;
    Rearm(s);
}

void SetDesktopFolder(const std::string& folder) {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.hasDesktop = true;
    s.desktop = folder;
    Rearm(s);
}

void SetConfigHome(const std::string& folder) {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.hasConfig = true;
    s.config = folder;
    Rearm(s);
}

void ClearAll() {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    s.faults.clear();
    s.hooks.clear();
    s.driveTypes.clear();
    s.hasTemp = s.hasDesktop = s.hasConfig = false;
    s.temp.clear();
    s.desktop.clear();
    s.config.clear();
    Rearm(s);
}

bool Armed() { return g_armed.load(std::memory_order_relaxed); }

int Check(Op op, const std::string& path, long long bytesSoFar, long long* allowed) {
    if (!Armed()) return 0;
    State& s = S();
    std::vector<Hook> due;
    {
        std::lock_guard<std::mutex> g(s.lock);
        for (const Hook& h : s.hooks)
            if (h.op == op && Matches(h.path, path)) due.push_back(h);
    }
    // Outside the lock: a hook may well use the file system, and so the seam.
    for (const Hook& h : due) h.fn(path, h.user);

    std::lock_guard<std::mutex> g(s.lock);
    for (Fault& f : s.faults) {
        if (f.op != op || f.count == 0 || !Matches(f.path, path)) continue;
        if (bytesSoFar < f.afterBytes) {
            if (allowed && *allowed > f.afterBytes - bytesSoFar) *allowed = f.afterBytes - bytesSoFar;
            continue;
        }
        if (f.count > 0) --f.count;
        return f.cause != 0 ? f.cause : 1;
    }
    return 0;
}

bool OverrideDriveType(const std::string& path, int& driveType) {
    if (!Armed()) return false;
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    size_t best = 0;
    bool found = false;
    for (const auto& [prefix, type] : s.driveTypes) {
        if (path.compare(0, prefix.size(), prefix) == 0 && (!found || prefix.size() > best)) {
            best = prefix.size();
            driveType = type;
            found = true;
        }
    }
    return found;
}

static bool Override(bool has, const std::string& value, std::string& out) {
    if (!has) return false;
    out = value;
    return true;
}

bool OverrideTempFolder(std::string& folder) {
    if (!Armed()) return false;
    std::lock_guard<std::mutex> g(S().lock);
    return Override(S().hasTemp, S().temp, folder);
}

bool OverrideDesktopFolder(std::string& folder) {
    if (!Armed()) return false;
    std::lock_guard<std::mutex> g(S().lock);
    return Override(S().hasDesktop, S().desktop, folder);
}

bool OverrideConfigHome(std::string& folder) {
    if (!Armed()) return false;
    std::lock_guard<std::mutex> g(S().lock);
    return Override(S().hasConfig, S().config, folder);
}

}  // namespace kelto::fault
