#pragma once

#include "Clock.h"

#include <vector>

namespace platform {

class FakeTimer;

// A clock that only moves when told to: advance() or processEvents() (one
// step). Timers created here fire, in order of their due time, while the
// clock passes that time. Time is kept in whole milliseconds, so waits
// come out exact.
class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2024, 4, 15), QTime(8, 0), Qt::UTC),
                       int stepMs = 10);
    ~FakeClock() override;

    QDateTime now() const override { return start_.addMSecs(elapsed_); }
    double secondsSinceMidnight() const override;
    void processEvents() override;
    std::unique_ptr<Timer> createTimer() override;

    void advance(qint64 ms);
    // Milliseconds since the clock was created.
    qint64 elapsedMs() const { return elapsed_; }
    int processEventsCalls() const { return processCalls_; }

private:
    friend class FakeTimer;
    QDateTime start_;
    int step_;
    qint64 elapsed_ = 0;
    int processCalls_ = 0;
    std::vector<FakeTimer*> timers_;
};

class FakeTimer : public Timer {
public:
    explicit FakeTimer(FakeClock& clock);
    ~FakeTimer() override;
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }
    void start() override;
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }
    // Clock time (elapsed ms) of the next timeout; meaningful while active.
    qint64 due() const { return due_; }

private:
    friend class FakeClock;
    FakeClock* clock_;
    int interval_ = 0;
    bool active_ = false;
    qint64 due_ = 0;
};

} // namespace platform
