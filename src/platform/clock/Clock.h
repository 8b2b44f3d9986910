#pragma once

// Time, timers and the event pump as the client logic sees them. The
// desktop client runs on QtClock; tests and the headless tool use FakeClock,
// so waits of seconds or minutes pass in no real time.

#include <QDateTime>
#include <functional>
#include <memory>

namespace platform {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    // (Re)starts the timer; the interval counts from now.
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    // Runs each time the interval has passed (the timer repeats until stopped).
    void setCallback(std::function<void()> callback) { callback_ = std::move(callback); }

protected:
    void fire() {
        if (callback_) callback_();
    }

private:
    std::function<void()> callback_;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Like the system timer of the original platform: wraps at midnight.
    virtual double secondsSinceMidnight() const = 0;
    // Processes pending window events and lets a short slice of time pass
    // (the real clock waits up to 10 ms in the event loop, the fake one
    // advances by its step and fires the timers that fell due).
    virtual void processEvents() = 0;
    virtual std::unique_ptr<Timer> createTimer() = 0;
};

} // namespace platform
