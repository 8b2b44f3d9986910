#pragma once

#include <QString>

namespace testsupport {

// Test tables keep their German texts as UTF-8 byte strings.
inline QString u(const char* s) {
    return QString::fromUtf8(s);
}

} // namespace testsupport
