#pragma once

// Progress of a running rebuild of the period sums. The server reports each
// finished period to a factory hook; the client forwards it here, and the
// dialog that started the rebuild listens while its call runs. Without a
// listener every report answers "go on", so a server or factory that never
// reports, or reports to nobody, still rebuilds.

#include <functional>

namespace retrieval {

// done of total periods finished, the last one's code; false cancels.
using RebuildProgressSink = std::function<bool(int done, int total, int period)>;

// Installs the listener (empty = none) and returns the one it replaces.
RebuildProgressSink setRebuildProgressSink(RebuildProgressSink sink);
bool hasRebuildProgressSink();

// Passes one report to the listener; true = go on (also without a listener).
// Safe from any thread; the listener runs in the reporting thread.
bool reportRebuildProgress(int done, int total, int period);

// Listens for the lifetime of the object, then puts the previous listener back.
class ScopedRebuildProgress {
public:
    explicit ScopedRebuildProgress(RebuildProgressSink sink);
    ~ScopedRebuildProgress();
    ScopedRebuildProgress(const ScopedRebuildProgress&) = delete;
    ScopedRebuildProgress& operator=(const ScopedRebuildProgress&) = delete;

private:
    RebuildProgressSink previous_;
};

} // namespace retrieval
