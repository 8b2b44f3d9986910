#pragma once

#include "Clock.h"

namespace platform {

// The system clock and QTimer; needs a running Qt application object.
class QtClock : public Clock {
public:
    QDateTime now() const override;
    double secondsSinceMidnight() const override;
    void processEvents() override;
    std::unique_ptr<Timer> createTimer() override;
};

} // namespace platform
