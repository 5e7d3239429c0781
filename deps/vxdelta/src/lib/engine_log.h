// Internal: how engine code reports to the diagnostic log. Every ordinary
// failure is one ERROR line with an empty category and id 0, then a false
// (or status) result; keep call sites to one line with these helpers.
#pragma once

#include <string>

#include "log.h"

namespace vxdelta {

// Writes message at level ERROR.
void LogError(const std::string &message);

// Writes message at level ERROR and returns false.
inline bool Fail(const char *message) {
    LogError(message);
    return false;
}

// Writes message at level ERROR and returns status.
template <typename Status>
Status FailWith(Status status, const char *message) {
    LogError(message);
    return status;
}

// Relative build path of an engine source file, as assertion messages name it.
#define VXDELTA_SOURCE_PATH(name) "../../deps/vxdelta/src/lib/" name

}  // namespace vxdelta
