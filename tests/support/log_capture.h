// Collects what the application's log holds, for assertions.
#pragma once

#include <string>
#include <vector>

#include "app/main_app.h"

namespace kelto::test {

struct LogLine {
    std::string text;
    std::string caption;
    int kind;
};

class LogCapture : public ILogView {
public:
    LogCapture() { theApp().m_log.Clear(); }
    ~LogCapture() override { theApp().m_log.Clear(); }
    void AddEntry(const std::string& text, const std::string& detail, int kind) override {
        lines.push_back({text, detail, kind});
    }
    // Drains the queue and returns every line so far.
    const std::vector<LogLine>& Lines() {
        theApp().m_log.Drain(*this);
        return lines;
    }
    bool HasProblem(const std::string& text, const std::string& caption) {
        for (const LogLine& l : Lines())
            if (l.kind == LOG_KIND_PROBLEM && l.text == text && l.caption == caption) return true;
        return false;
    }
    std::vector<LogLine> Problems() {
        std::vector<LogLine> out;
        for (const LogLine& l : Lines())
            if (l.kind == LOG_KIND_PROBLEM) out.push_back(l);
        return out;
    }

private:
    std::vector<LogLine> lines;
};

}  // namespace kelto::test
