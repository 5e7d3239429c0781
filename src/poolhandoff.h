#pragma once

// Work passed to a QThreadPool is queued under Qt's own locks. In a Qt
// built without the thread sanitizer those locks are invisible to it, so
// the ordering the pool guarantees is stated instead: poolHandOff(key)
// before start(), poolTakeOver(key) first thing in the job, with the same
// key, make everything written before start() visible to the job. Both do
// nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define VXM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VXM_THREAD_SANITIZER 1
#endif
#endif

#ifdef VXM_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>

inline void poolHandOff(const void *key) {
    __tsan_release(const_cast<void *>(key));
}

inline void poolTakeOver(const void *key) {
    __tsan_acquire(const_cast<void *>(key));
}
#else
inline void poolHandOff(const void * /*key*/) {}

inline void poolTakeOver(const void * /*key*/) {}
#endif
