#include "FakeClock.h"

#include <algorithm>

namespace platform {

FakeClock::FakeClock(QDateTime start, int stepMs) : start_(std::move(start)), step_(stepMs) {}

FakeClock::~FakeClock() {
    for (FakeTimer* t : timers_)
        t->clock_ = nullptr;
}

double FakeClock::secondsSinceMidnight() const {
    return now().time().msecsSinceStartOfDay() / 1000.0;
}

void FakeClock::processEvents() {
    ++processCalls_;
    advance(step_);
}

std::unique_ptr<Timer> FakeClock::createTimer() {
    return std::make_unique<FakeTimer>(*this);
}

void FakeClock::advance(qint64 ms) {
    const qint64 target = elapsed_ + std::max<qint64>(ms, 0);
    for (;;) {
        // A callback may start, stop or create timers, so look afresh each time.
        FakeTimer* next = nullptr;
        for (FakeTimer* t : timers_)
            if (t->active_ && t->due_ <= target && (!next || t->due_ < next->due_)) next = t;
        if (!next) break;
        elapsed_ = std::max(elapsed_, next->due_);
        next->due_ += std::max(next->interval_, 1);
        next->fire();
    }
    elapsed_ = target;
}

FakeTimer::FakeTimer(FakeClock& clock) : clock_(&clock) {
    clock.timers_.push_back(this);
}

FakeTimer::~FakeTimer() {
    if (clock_) std::erase(clock_->timers_, this);
}

void FakeTimer::start() {
    active_ = true;
    due_ = (clock_ ? clock_->elapsed_ : 0) + std::max(interval_, 1);
}

} // namespace platform
