#include "engine_log.h"

namespace vxdelta {

void LogError(const std::string &message) {
    difflog::logMessage(message, difflog::LogLevel_ERROR, std::string(), 0);
}

}  // namespace vxdelta
