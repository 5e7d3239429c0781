#include "log.h"

#include <algorithm>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/format.hpp>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace difflog {

namespace {

struct LogConfig {
    std::recursive_mutex mutex;
    int threshold = LogLevel_DEVEL;
    bool localTime = false;
    int timestampStyle = 0;
    CriticalHandler criticalHandler;
    std::vector<LogBase *> sinks;
};

// Never destroyed, so sinks with static storage can unregister during exit.
LogConfig &config() {
    static LogConfig *instance = new LogConfig;
    return *instance;
}

const char *const kLogSource = "../../deps/difflog/src/lib/log.cpp";
const int kLevelCheckLine = 216;

bool droppedByCategoryFilter(const std::string &message, const std::string &category) {
    if (category != "DatabaseQuery") {
        return false;
    }
    return message == "sqlite3_prepare failed no such column: string_id" ||
           message.find("db_exec() select * from instance_properties where string_id = '") !=
               std::string::npos;
}

// Style 0 is derived from the ISO basic form "YYYYMMDDTHHMMSS[.ffffff]".
std::string dateBlankTime(const std::string &iso) {
    std::string text = iso;
    if (text.size() >= 15) {
        text[8] = ' ';
        text.insert(13, ":");
        text.insert(11, ":");
        text.insert(6, "-");
        text.insert(4, "-");
    }
    if (text.size() < 20) {
        text += '.';
    }
    return (boost::format("%026s") % text).str();
}

std::string timestampText(bool localTime, int style) {
    namespace pt = boost::posix_time;
    const pt::ptime now =
        localTime ? pt::microsec_clock::local_time() : pt::microsec_clock::universal_time();
    if (style == 0) {
        return dateBlankTime(pt::to_iso_string(now));
    }
    if (style == 2) {
        return pt::to_iso_string(now);
    }
    return pt::to_iso_extended_string(now);
}

std::string indentContinuationLines(const std::string &message, size_t width) {
    const std::string replacement = "\n" + std::string(width, ' ');
    std::string result;
    result.reserve(message.size());
    for (char c : message) {
        if (c == '\n') {
            result += replacement;
        } else {
            result += c;
        }
    }
    return result;
}

void dispatch(LogConfig &cfg, const std::string &message, int level, const std::string &category,
              uint64_t id) {
    const std::string idText = id == 0 ? std::string() : std::to_string(id);
    const std::string timestamp = timestampText(cfg.localTime, cfg.timestampStyle);
    const std::string prefix =
        (boost::format("%s|%-8s|%-14s|%-3s|") % timestamp % logLevelName(level) % category % idText)
            .str();
    const std::string line = prefix + indentContinuationLines(message, prefix.size());
    for (LogBase *sink : cfg.sinks) {
        sink->write(message, level, category, id, timestamp, line);
        if (level == LogLevel_CRITICAL) {
            sink->flush();
        }
    }
    if (level == LogLevel_CRITICAL && cfg.criticalHandler) {
        cfg.criticalHandler(message, category, id, timestamp, line);
    }
}

}  // namespace

void logMessage(const std::string &message, int level, const std::string &category, uint64_t id) {
    if (droppedByCategoryFilter(message, category)) {
        return;
    }
    LogConfig &cfg = config();
    {
        std::lock_guard<std::recursive_mutex> lock(cfg.mutex);
        if (level <= cfg.threshold) {
            dispatch(cfg, message, level, category, id);
        }
    }
    // Outside the lock: exit handlers may destroy sinks, which takes it.
    if (level == LogLevel_CRITICAL) {
        std::exit(1);
    }
}

const char *logLevelName(int level) {
    static const char *const names[] = {"CRITICAL", "ERROR", "WARNING", "DEBUG", "INFO", "DEVELOP"};
    if (level < 0 || level > LogLevel_DEVEL) {
        return "";
    }
    return names[level];
}

const char *logLevelNameChecked(int level) {
    if (!(level >= 0 && level <= LogLevel_DEVEL)) {
        assertionFailed("lvl >= 0 && lvl <= LogLevel_DEVEL", kLogSource, kLevelCheckLine);
    }
    return logLevelName(level);
}

void setLogThreshold(int threshold) {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    config().threshold = threshold;
}

void setLogLocalTime(bool localTime) {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    config().localTime = localTime;
}

void setLogTimestampStyle(int style) {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    config().timestampStyle = style;
}

void setCriticalHandler(CriticalHandler handler) {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    config().criticalHandler = std::move(handler);
}

LogBase::LogBase() {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    config().sinks.push_back(this);
}

LogBase::~LogBase() {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    auto &sinks = config().sinks;
    sinks.erase(std::remove(sinks.begin(), sinks.end(), this), sinks.end());
}

void flushAllLogs() {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    for (LogBase *sink : config().sinks) {
        sink->flush();
    }
}

int registeredLogCount() {
    std::lock_guard<std::recursive_mutex> lock(config().mutex);
    return static_cast<int>(config().sinks.size());
}

LogStream::LogStream(int level, std::string category, uint64_t id)
    : m_Level(level), m_Category(std::move(category)), m_Id(id) {}

LogStream::~LogStream() {
    logMessage(m_Buffer.str(), m_Level, m_Category, m_Id);
}

std::string assertionText(const char *condition, const char *file, int line) {
    return std::string("Assertion \"") + condition + "\" failed at " + file + ":" +
           std::to_string(line) + "; ";
}

void assertionFailed(const char *condition, const char *file, int line) {
    logMessage(assertionText(condition, file, line), LogLevel_CRITICAL, std::string(), 0);
    std::exit(1);  // logMessage already exits for CRITICAL; this keeps [[noreturn]] honest.
}

}  // namespace difflog
