#include "Records.h"

namespace srv {

ConnectionSettings& connectionSettings() {
    static ConnectionSettings instance;
    return instance;
}

UserContext& userContext() {
    static UserContext instance;
    return instance;
}

void resetRecords() {
    connectionSettings() = {};
    userContext() = {};
}

} // namespace srv
