#include "RebuildProgress.h"

#include <mutex>

namespace retrieval {

namespace {

std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}

RebuildProgressSink& sinkSlot() {
    static RebuildProgressSink sink;
    return sink;
}

} // namespace

RebuildProgressSink setRebuildProgressSink(RebuildProgressSink sink) {
    std::lock_guard lock(sinkMutex());
    RebuildProgressSink previous = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return previous;
}

bool hasRebuildProgressSink() {
    std::lock_guard lock(sinkMutex());
    return bool(sinkSlot());
}

bool reportRebuildProgress(int done, int total, int period) {
    RebuildProgressSink sink;
    {
        // A copy, so the listener may process events (and even replace
        // itself) without holding the lock.
        std::lock_guard lock(sinkMutex());
        sink = sinkSlot();
    }
    return sink ? sink(done, total, period) : true;
}

ScopedRebuildProgress::ScopedRebuildProgress(RebuildProgressSink sink)
    : previous_(setRebuildProgressSink(std::move(sink))) {}

ScopedRebuildProgress::~ScopedRebuildProgress() {
    setRebuildProgressSink(std::move(previous_));
}

} // namespace retrieval
