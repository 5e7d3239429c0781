// The engine's diagnostic log: formats each message into one line (timestamp,
// level, category, id) and hands it to every registered sink. A CRITICAL
// message always ends the process with exit status 1 after dispatch.
//
// Thread safety: logMessage may be called from any thread. The sink list and
// the configuration are guarded by one mutex; sinks are called while it is
// held, in registration order, so a sink must not register or destroy sinks.
#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

namespace difflog {

// Lower is more severe. INFO (4) comes after DEBUG (3).
enum LogLevel : int {
    LogLevel_CRITICAL = 0,
    LogLevel_ERROR = 1,
    LogLevel_WARNING = 2,
    LogLevel_DEBUG = 3,
    LogLevel_INFO = 4,
    LogLevel_DEVEL = 5,
};

// Formats and dispatches one message if level <= threshold; ends the process
// with status 1 for level 0 (unless the DatabaseQuery filter drops it).
void logMessage(const std::string &message, int level, const std::string &category, uint64_t id);

// Name of a level 0..5; an empty string for any other value.
const char *logLevelName(int level);
// As logLevelName, but a level outside 0..5 is a failed assertion (CRITICAL).
const char *logLevelNameChecked(int level);

// Called once for each dispatched CRITICAL message, after the sinks.
using CriticalHandler =
    std::function<void(const std::string &message, const std::string &category, uint64_t id,
                       const std::string &timestamp, const std::string &line)>;

// Messages above the threshold are neither formatted nor dispatched (default 5).
void setLogThreshold(int threshold);
// Timestamps in local time when on, in UTC when off (default off).
void setLogLocalTime(bool localTime);
// 0: "YYYY-MM-DD HH:MM:SS.ffffff" (default); 2: ISO basic; other: ISO extended.
void setLogTimestampStyle(int style);
// Replaces the critical handler; an empty function removes it.
void setCriticalHandler(CriticalHandler handler);

// A sink. Constructing one registers it at the end of the sink list;
// destroying it unregisters it.
class LogBase {
public:
    LogBase();
    virtual ~LogBase();
    LogBase(const LogBase &) = delete;
    LogBase &operator=(const LogBase &) = delete;

    // Called right after a CRITICAL line was written to this sink.
    virtual void flush() = 0;
    // One dispatched message: the unchanged text, its level, category, id,
    // the timestamp text and the complete formatted line (no terminator).
    virtual void write(const std::string &message, int level, const std::string &category,
                       uint64_t id, const std::string &timestamp, const std::string &line) = 0;
};

// Calls flush on every registered sink.
void flushAllLogs();

// Number of sinks currently registered.
int registeredLogCount();

// Collects text with stream insertion and logs it when destroyed.
class LogStream {
public:
    explicit LogStream(int level, std::string category = std::string(), uint64_t id = 0);
    ~LogStream();
    LogStream(const LogStream &) = delete;
    LogStream &operator=(const LogStream &) = delete;

    template <typename T>
    LogStream &operator<<(const T &value) {
        m_Buffer << value;
        return *this;
    }

private:
    int m_Level;
    std::string m_Category;
    uint64_t m_Id;
    std::ostringstream m_Buffer;
};

// "Assertion \"<condition>\" failed at <file>:<line>; "
std::string assertionText(const char *condition, const char *file, int line);

// Logs the assertion text at CRITICAL with an empty category and id 0,
// which ends the process with status 1.
[[noreturn]] void assertionFailed(const char *condition, const char *file, int line);

}  // namespace difflog
