#include "asynctaskspecification.h"

#include <QThreadPool>

#include "poolhandoff.h"

ASyncFunc::ASyncFunc() : QObject(nullptr) {}

ASyncRun::ASyncRun(ASyncFunc *func) : m_Func(func) {}

ASyncRun::~ASyncRun() {
    delete m_Func;
}

void ASyncRun::run() {
    poolTakeOver(this);
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
    poolHandOff(run);
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
