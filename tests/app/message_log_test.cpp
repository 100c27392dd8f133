#include "app/message_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <thread>
#include <vector>

#include "app/main_app.h"

namespace kelto {
namespace {

struct CountingWake : ILogWake {
    std::atomic<int> posts{0};
    void PostLogQueued() override { ++posts; }
};

struct Line {
    std::string text, detail;
    int kind;
    bool operator==(const Line&) const = default;
};

struct RecordingView : ILogView {
    std::vector<Line> lines;
    std::function<void()> onEntry;
    void AddEntry(const std::string& text, const std::string& detail, int kind) override {
        lines.push_back({text, detail, kind});
        if (onEntry) onEntry();
    }
};

TEST(MessageLog, OneWakeUntilDrained) {
    CMessageLog log;
    CountingWake wake;
    log.SetWake(&wake);
    for (int i = 0; i < 10; ++i) log.Add("path" + std::to_string(i), "text", i % 2 ? LOG_KIND_PROBLEM : LOG_KIND_INFO);
    EXPECT_EQ(wake.posts, 1);
    EXPECT_EQ(log.Count(), 10u);

    RecordingView view;
    log.Drain(view);
    ASSERT_EQ(view.lines.size(), 10u);
    for (int i = 0; i < 10; ++i)  // oldest first; the view puts each on top
        EXPECT_EQ(view.lines[i], (Line{"text", "path" + std::to_string(i), i % 2 ? LOG_KIND_PROBLEM : LOG_KIND_INFO}));
    EXPECT_EQ(log.Count(), 0u);

    log.Add("", "again", LOG_KIND_INFO);
    EXPECT_EQ(wake.posts, 2);
    log.Clear();
    EXPECT_EQ(log.Count(), 0u);
    log.Add("", "after clear", LOG_KIND_INFO);
    EXPECT_EQ(wake.posts, 3);
}

TEST(MessageLog, AddDuringDrainIsTakenBySameDrain) {
    CMessageLog log;
    CountingWake wake;
    log.SetWake(&wake);
    log.Add("", "first", LOG_KIND_INFO);
    log.Add("", "second", LOG_KIND_INFO);
    RecordingView view;
    view.onEntry = [&] {
        if (view.lines.size() == 1) log.Add("", "during", LOG_KIND_PROBLEM);  // the view runs outside the lock
    };
    log.Drain(view);
    ASSERT_EQ(view.lines.size(), 3u);
    EXPECT_EQ(view.lines[2].text, "during");
    EXPECT_EQ(wake.posts, 1);
    log.Add("", "next", LOG_KIND_INFO);
    EXPECT_EQ(wake.posts, 2);
}

// A worker logs while the UI thread drains on each wake-up: every line
// arrives, in order, and no wake-up is lost.
TEST(MessageLog, ThreadedNoLostWakeUp) {
    struct Wake : ILogWake {
        std::mutex m;
        std::condition_variable cv;
        int pending = 0;
        void PostLogQueued() override {
            std::lock_guard<std::mutex> g(m);
            ++pending;
            cv.notify_one();
        }
    } wake;
    CMessageLog log;
    log.SetWake(&wake);
    constexpr int kLines = 2000;
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i) log.Add("", std::to_string(i), LOG_KIND_INFO);
    });
    RecordingView view;
    while (view.lines.size() < kLines) {
        std::unique_lock<std::mutex> lk(wake.m);
        wake.cv.wait(lk, [&] { return wake.pending > 0; });  // hangs if a wake-up is lost
        wake.pending = 0;
        lk.unlock();
        log.Drain(view);
    }
    worker.join();
    for (int i = 0; i < kLines; ++i) ASSERT_EQ(view.lines[i].text, std::to_string(i));
}

TEST(MessageLog, LogInfoAndProblemGoToTheApplication) {
    CMessageLog& log = theApp().m_log;
    log.Clear();
    LogInfo("caption", "info");
    LogProblem("", "problem");
    RecordingView view;
    log.Drain(view);
    EXPECT_EQ(view.lines, (std::vector<Line>{{"info", "caption", LOG_KIND_INFO}, {"problem", "", LOG_KIND_PROBLEM}}));
}

}  // namespace
}  // namespace kelto
