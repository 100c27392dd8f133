#include "platform/terminal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace kelto::term {
namespace {

std::atomic<int> g_stopSignals{0};

extern "C" void OnStopSignal(int) { g_stopSignals.fetch_add(1, std::memory_order_relaxed); }

void WriteAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// One line from stdin without its line end. false at end of input, on an
// error, or when a stop signal interrupted the read.
bool ReadLine(std::string& out) {
    out.clear();
    for (;;) {
        char c;
        ssize_t n = ::read(kStdin, &c, 1);
        if (n < 0) {
            if (errno == EINTR && g_stopSignals.load() == 0) continue;
            return false;
        }
        if (n == 0) return !out.empty();
        if (c == '\n') break;
        out += c;
    }
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return true;
}

}  // namespace

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

void InstallStopSignals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a prompt waiting for input must see the signal.
    sa.sa_flags = 0;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

bool TakeStopSignal() {
    int n = g_stopSignals.load();
    while (n > 0 && !g_stopSignals.compare_exchange_weak(n, 0)) {
    }
    return n > 0;
}

bool ReadPassword(const std::string& prompt, std::string& out) {
    out.clear();
    if (!IsTerminal(kStdin)) return false;
    termios saved;
    if (::tcgetattr(kStdin, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    WriteAll(kStderr, prompt);
    if (::tcsetattr(kStdin, TCSAFLUSH, &quiet) != 0) return false;
    bool ok = ReadLine(out);
    ::tcsetattr(kStdin, TCSAFLUSH, &saved);
    if (!ok) {
        WriteAll(kStderr, "\n");
        // Nothing of a half-typed password stays behind.
        std::fill(out.begin(), out.end(), '\0');
        out.clear();
    }
    return ok;
}

bool AskYesNo(const std::string& question) {
    if (!IsTerminal(kStdin)) return false;
    WriteAll(kStderr, question + " [y/N] ");
    std::string answer;
    if (!ReadLine(answer)) {
        WriteAll(kStderr, "\n");
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace kelto::term
