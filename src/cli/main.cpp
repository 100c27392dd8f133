// kelto-cli: encrypts and decrypts files and folders from the command line
// with the same worker, options and texts as the windowed program.
#include <CLI/CLI.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "app/text_table.h"
#include "cli/password_rules.h"
#include "engine/collect.h"
#include "engine/file_helpers.h"
#include "platform/terminal.h"
#include "platform/user_store.h"

namespace kelto::cli {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    int mode = 0;
    std::vector<std::string> paths;
    std::string passwordFile;
    bool passwordStdin = false;
    bool yes = false;
    // Each pair of switches: the value given last, unset when neither was given.
    std::optional<bool> zero, rand, randomName, readOnly, ramTemp;
    std::string onClash;
};

// Log lines and the end-of-run notice, both arriving from the worker thread.
class CRunMonitor : public ILogWake, public IRunFinished {
public:
    void PostLogQueued() override {
        std::lock_guard<std::mutex> g(m_lock);
        m_logQueued = true;
        m_cv.notify_one();
    }
    void PostCryptFinished(int result) override {
        std::lock_guard<std::mutex> g(m_lock);
        m_result = result;
        m_cv.notify_one();
    }
    // Waits at most `timeout`; tells whether log lines are waiting and, once
    // the run is over, its result.
    void Wait(std::chrono::milliseconds timeout, bool& logQueued, std::optional<int>& result) {
        std::unique_lock<std::mutex> g(m_lock);
        m_cv.wait_for(g, timeout, [this] { return m_logQueued || m_result.has_value(); });
        logQueued = m_logQueued;
        m_logQueued = false;
        result = m_result;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_logQueued = false;
    std::optional<int> m_result;
};

// Prints drained lines: information on stdout, problems on stderr, with the
// progress line (on a terminal stderr) taken away first.
class CConsoleView : public ILogView {
public:
    explicit CConsoleView(bool progress) : m_progress(progress) {}

    void AddEntry(const std::string& text, const std::string& detail, int kind) override {
        ClearProgress();
        std::string line = text;
        if (!detail.empty()) line += " " + detail;
        if (kind == LOG_KIND_PROBLEM) {
            std::fflush(stdout);
            std::fprintf(stderr, "problem: %s\n", line.c_str());
            std::fflush(stderr);
        } else {
            std::fprintf(stdout, "%s\n", line.c_str());
            std::fflush(stdout);
        }
    }

    void ShowProgress(const std::string& line) {
        if (!m_progress) return;
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        m_shown = true;
    }
    void ClearProgress() {
        if (!m_shown) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        m_shown = false;
    }

private:
    bool m_progress;
    bool m_shown = false;
};

const char* PhaseText(int phase) {
    switch (phase) {
        case PHASE_ENCRYPT: return "暗号化中";
        case PHASE_DECRYPT: return "復号化中";
        case PHASE_COPY: return "移動中";
        case PHASE_WIPE: return "削除中";
        default: return "";
    }
}

// The last 30 bytes behind "...", starting on a whole character so that the
// terminal is never handed half of one.
std::string ShortenFile(const std::string& path) {
    if (path.size() <= 30) return path;
    size_t from = path.size() - 30;
    while (from < path.size() && (static_cast<unsigned char>(path[from]) & 0xC0) == 0x80) ++from;
    return "..." + path.substr(from);
}

std::string ProgressLine(const CCryptWorker& worker) {
    uint64_t bytesDone, bytesTotal, extraDone, extraTotal, itemBytes, itemExtra;
    worker.GetBytesProgress(bytesDone, bytesTotal);
    worker.GetExtraProgress(extraDone, extraTotal);
    worker.GetItemProgress(itemBytes, itemExtra);
    const double done = static_cast<double>(bytesDone + extraDone + itemBytes + itemExtra);
    const double total = static_cast<double>(bytesTotal + extraTotal);
    char percent[32];
    std::snprintf(percent, sizeof percent, "%3.1f %%", total > 0 ? done / total * 100.0 : 0.0);
    char amounts[80];
    std::snprintf(amounts, sizeof amounts, "%llu [KB] → %llu [KB]",
                  static_cast<unsigned long long>((bytesDone + itemBytes) / 1024),
                  static_cast<unsigned long long>(bytesTotal / 1024));
    std::string line = std::string(percent) + "  " + amounts;
    if (const char* phase = PhaseText(worker.GetPhase()); *phase) line += std::string("  ") + phase;
    std::string current;
    if (worker.GetCurrentFile(current)) line += "  " + ShortenFile(current);
    return line;
}

std::string AbsoluteTarget(const std::string& path) {
    std::string out = std::filesystem::absolute(path).lexically_normal().string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool ReadPasswordFile(const std::string& file, std::string& out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::getline(in, out);
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return true;
}

bool ReadPasswordStdin(std::string& out) {
    if (!std::getline(std::cin, out)) {
        out.clear();
        return true;  // empty input: an empty password, as the rules allow
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return true;
}

void ApplyOverrides(const Options& o, Settings& s) {
    auto set = [](const std::optional<bool>& v, uint32_t& field) {
        if (v) field = *v ? 1 : 0;
    };
    set(o.zero, s.Zero);
    set(o.rand, s.Rand);
    set(o.randomName, s.RandomeName);
    set(o.readOnly, s.WriteReadOnly);
    set(o.ramTemp, s.RamTemp);
    if (o.onClash == "refuse") {
        s.AliasWrite = 0;
        s.OverWrite = 0;
    } else if (o.onClash == "alias") {
        s.AliasWrite = 1;
        s.OverWrite = 0;
    } else if (o.onClash == "overwrite") {
        s.AliasWrite = 0;
        s.OverWrite = 1;
    }
}

// Stores the accepted digest and nothing else of the settings.
void StoreHashValue(const std::string& hashValue) {
    CUserStoreKey key;
    if (!key.Create(theApp().RegistryKeyPath)) {
        LogProblem("", "the password digest could not be stored");
        return;
    }
    StoreValue v;
    v.type = REG_BINARY;
    v.data = hashValue;
    if (!key.SetValue("HashValue", v)) LogProblem("", "the password digest could not be stored");
    key.Close();
}

void AddPairFlag(CLI::App* cmd, const std::string& name, std::optional<bool>& target, const std::string& help) {
    auto* on = cmd->add_flag_callback("--" + name, [&target] { target = true; }, help);
    auto* off = cmd->add_flag_callback("--no-" + name, [&target] { target = false; }, "the opposite of --" + name);
    on->excludes(off);
}

void AddRunOptions(CLI::App* cmd, Options& o) {
    cmd->add_option("PATH", o.paths, "files and folders to work on")->required();
    auto* file = cmd->add_option("--password-file", o.passwordFile, "read the password from the first line of FILE")
                     ->check(CLI::ExistingFile);
    auto* in = cmd->add_flag("--password-stdin", o.passwordStdin, "read the password from the first line of standard input");
    file->excludes(in);
    cmd->add_flag("--yes,-y", o.yes, "encrypt even when the password differs from the previous one");
    AddPairFlag(cmd, "zero", o.zero, "overwrite plaintext with zeros before deleting it");
    AddPairFlag(cmd, "rand", o.rand, "overwrite plaintext with random bytes before deleting it");
    AddPairFlag(cmd, "random-name", o.randomName, "give encrypted files random names");
    AddPairFlag(cmd, "read-only", o.readOnly, "process read-only files too");
    AddPairFlag(cmd, "ram-temp", o.ramTemp, "work through the temporary folder on removable and RAM drives");
    cmd->add_option("--on-clash", o.onClash, "when a decrypted name is taken")
        ->check(CLI::IsMember({"refuse", "alias", "overwrite"}));
}

void Drain(CConsoleView& view) { theApp().m_log.Drain(view); }

int RunCli(const Options& o) {
    CMainApp& app = theApp();
    Settings& s = app.m_settings;
    ApplyOverrides(o, s);

    const bool haveTerminal = term::IsTerminal(term::kStdin) && !o.passwordStdin;
    if (o.passwordFile.empty() && !o.passwordStdin && !haveTerminal) {
        std::fprintf(stderr, "kelto-cli: no terminal for the password; use --password-file or --password-stdin\n");
        return kExitUsage;
    }

    CConsoleView view(term::IsTerminal(term::kStderr));
    CRunMonitor monitor;
    app.m_log.SetWake(&monitor);
    app.m_worker.SetFinishedNotice(&monitor);
    term::InstallStopSignals();

    // The walk passes over names that do not exist; on a command line that
    // is a typing error the user must hear of, and the run does not succeed.
    bool missing = false;
    for (const std::string& p : o.paths) {
        CryptItem item;
        item.path = AbsoluteTarget(p);
        if (!IsExistingFile(item.path) && !IsFolder(item.path) && !IsDriveRoot(item.path)) {
            std::fprintf(stderr, "kelto-cli: %s: no such file or folder\n", p.c_str());
            missing = true;
            continue;
        }
        app.m_worker.AddTarget(item);
        LogInfo(item.path, "ファイルが挿入されました。");
    }
    Drain(view);
    if (app.m_worker.GetTargetCount() == 0) return kExitFailed;

    // A single file in automatic mode goes the way its name says at once.
    int mode = o.mode;
    app.SingleFileJob = 0;
    CryptItem single;
    if (app.m_worker.GetTargetCount() == 1 && app.m_worker.PeekSingleTarget(single) && !IsFolder(single.path)) {
        app.SingleFileJob = 1;
        if (mode == 0) mode = single.action ? single.action : DecideActionByName(single.path);
    }
    app.RunMode = mode;

    std::string upper, lower;
    bool askedTwice = false;
    if (!o.passwordFile.empty()) {
        if (!ReadPasswordFile(o.passwordFile, upper)) {
            std::fprintf(stderr, "kelto-cli: cannot read %s\n", o.passwordFile.c_str());
            return kExitUsage;
        }
    } else if (o.passwordStdin) {
        ReadPasswordStdin(upper);
    } else {
        if (!term::ReadPassword("Password: ", upper)) return kExitFailed;
        if (s.Confirm && mode != 2) {
            if (!term::ReadPassword("Password (again): ", lower)) return kExitFailed;
            askedTwice = true;
        }
    }
    // One answer stands for both boxes.
    if (!askedTwice) lower = upper;

    PasswordVerdict verdict = CheckPassword(mode, s.Confirm != 0, s.UsePassword != 0, upper, lower);
    std::fill(upper.begin(), upper.end(), '\0');
    std::fill(lower.begin(), lower.end(), '\0');
    if (!verdict.accepted) {
        LogProblem("", verdict.notice);
        Drain(view);
        return kExitFailed;
    }
    if (!verdict.notice.empty()) LogInfo("", verdict.notice);
    Drain(view);

    if (mode != 2 && s.HashCheck) {
        app.FixHashValue();
        const std::string digest = PasswordDigest(verdict.password);
        if (!DigestMatches(s.HashValue, digest)) {
            const std::string question = GetText("message_password_hash");
            bool go = o.yes;
            if (!go && haveTerminal) go = term::AskYesNo(question);
            if (!go) {
                LogProblem("", haveTerminal ? std::string("nothing was encrypted")
                                            : question + " (no terminal to ask; --yes encrypts anyway)");
                Drain(view);
                return kExitFailed;
            }
        }
        if (s.HashValue.compare(0, 20, digest) != 0) {
            s.HashValue.replace(0, 20, digest);
            StoreHashValue(s.HashValue);
        }
    }

    app.m_worker.SetPassword(verdict.password.c_str());
    std::fill(verdict.password.begin(), verdict.password.end(), '\0');
    app.m_worker.StartThread();
    app.m_worker.StartRun(mode);

    std::optional<int> result;
    while (!result) {
        bool logQueued = false;
        monitor.Wait(std::chrono::milliseconds(100), logQueued, result);
        if (term::TakeStopSignal()) app.m_worker.RequestStop();
        if (logQueued) Drain(view);
        if (!result) view.ShowProgress(ProgressLine(app.m_worker));
    }
    app.m_worker.RequestQuit();
    app.m_worker.JoinThread();
    Drain(view);
    view.ClearProgress();
    app.m_log.SetWake(nullptr);
    app.m_worker.SetFinishedNotice(nullptr);
    app.RunMode = 0;
    return *result == 1 && !missing ? kExitOk : kExitFailed;
}

}  // namespace
}  // namespace kelto::cli

int main(int argc, char** argv) {
    using namespace kelto;
    CMainApp& app = theApp();
    app.LoadVersionText();

    cli::Options o;
    CLI::App parser{"Encrypts files and folders into .cpy files and decrypts them back."};
    parser.name("kelto-cli");
    parser.set_version_flag("--version", "kelto-cli " + app.VersionText);
    parser.require_subcommand(1);
    struct Mode {
        const char* name;
        int mode;
        const char* help;
    };
    const Mode modes[] = {{"encrypt", 1, "encrypt every file"},
                          {"decrypt", 2, "decrypt every .cpy file"},
                          {"auto", 0, "decide each file's direction by its name"}};
    for (const Mode& m : modes) {
        CLI::App* cmd = parser.add_subcommand(m.name, m.help);
        cli::AddRunOptions(cmd, o);
        int mode = m.mode;
        cmd->callback([&o, mode] { o.mode = mode; });
    }
    try {
        parser.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = parser.exit(e);
        return rc == 0 ? 0 : 2;
    }

    app.LoadAtStartUp();
    TextTable().Load(app.RegistryKeyPath + "\\Zen", "");
    return cli::RunCli(o);
}
