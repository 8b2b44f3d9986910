#include "ValueStore.h"

namespace values {

PeriodValueStore& store() {
    static PeriodValueStore s;
    return s;
}

void resetStore() {
    store() = PeriodValueStore{};
}

} // namespace values
