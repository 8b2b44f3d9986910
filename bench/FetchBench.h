#pragma once

// A whole F5 fetch as the client runs it (the period query through a
// session and the server component, then the derived tables), against a
// naive fetch that sums the raw sales lines for each month.

#include "platform/cache/server/Store.h"

#include <QJsonObject>

QJsonObject fetchBench(const QString& server, const QString& port, cache::server::Store& rawStore,
                       int rounds, int naiveRounds);
