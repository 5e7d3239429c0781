#include "asynctaskspecification.h"

#include <QThreadPool>

#if defined(__SANITIZE_THREAD__)
#define VXM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VXM_THREAD_SANITIZER 1
#endif
#endif
#ifdef VXM_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// The pool passes a runnable to its thread under Qt's own locks. In a Qt
// built without the thread sanitizer those locks are invisible to it, so
// the hand-off is stated here: everything the main thread wrote before
// start() is visible to the runnable, as the pool guarantees.
#ifdef VXM_THREAD_SANITIZER
void handOff(ASyncRun *run) {
    __tsan_release(run);
}

void takeOver(ASyncRun *run) {
    __tsan_acquire(run);
}
#else
void handOff(ASyncRun * /*run*/) {}

void takeOver(ASyncRun * /*run*/) {}
#endif

}  // namespace

ASyncFunc::ASyncFunc() : QObject(nullptr) {}

ASyncRun::ASyncRun(ASyncFunc *func) : m_Func(func) {}

ASyncRun::~ASyncRun() {
    delete m_Func;
}

void ASyncRun::run() {
    takeOver(this);
    if (m_Func == nullptr) {
        return;
    }
    const bool res = m_Func->run();
    emit m_Func->runResult(res);
}

ASyncTaskSpecification::ASyncTaskSpecification(QObject *parent, double weight)
    : TaskSpecification(parent, weight) {}

void ASyncTaskSpecification::execute() {
    ASyncFunc *func = createFunc();
    m_State = Running;
    if (func == nullptr) {
        // Without a worker no result would ever arrive and the task tree
        // would wait forever.
        emit message(QStringLiteral("Internal error: no worker for this task"));
        taskFailed();
        return;
    }
    connectFunc(func);
    auto *run = new ASyncRun(func);
    handOff(run);
    QThreadPool::globalInstance()->start(run, 0);
}

void ASyncTaskSpecification::connectFunc(ASyncFunc *func) {
    connect(func, &ASyncFunc::runResult, this, &ASyncTaskSpecification::onRunResult,
            Qt::QueuedConnection);
    connect(func, &ASyncFunc::message, this, &TaskSpecification::message, Qt::QueuedConnection);
    connect(func, &ASyncFunc::error, this, &TaskSpecification::error, Qt::QueuedConnection);
    connect(func, &ASyncFunc::progress, this, &ASyncTaskSpecification::onProgress,
            Qt::QueuedConnection);
}

void ASyncTaskSpecification::reset() {
    QThreadPool::globalInstance()->waitForDone();
    TaskSpecification::reset();
}

void ASyncTaskSpecification::runDone(bool res) {
    if (m_State != Running) {
        return;
    }
    if (res) {
        taskFinished();
    } else {
        taskFailed();
    }
}

void ASyncTaskSpecification::onRunResult(bool res) {
    runDone(res);
}

void ASyncTaskSpecification::onProgress(double progress) {
    setProgress(progress);
}
