#include "QtClock.h"

#include <QEventLoop>
#include <QTime>
#include <QTimer>

namespace platform {

namespace {

class QtTimer : public Timer {
public:
    QtTimer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
    }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int interval() const override { return timer_.interval(); }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

QDateTime QtClock::now() const {
    return QDateTime::currentDateTime();
}

double QtClock::secondsSinceMidnight() const {
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

void QtClock::processEvents() {
    // Sleeping inside the event loop keeps a waiting loop from burning a core
    // while windows stay responsive.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
}

std::unique_ptr<Timer> QtClock::createTimer() {
    return std::make_unique<QtTimer>();
}

} // namespace platform
