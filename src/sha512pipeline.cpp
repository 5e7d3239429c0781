#include "sha512pipeline.h"

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "poolhandoff.h"
#include "sha512accumulator.h"

namespace {

// Threads of their own for digests: see the class comment. Threads idle
// after a drain are kept by the pool for a while, so a stream of pieces does
// not pay for a new thread per piece.
Q_GLOBAL_STATIC(QThreadPool, digestPool)

}  // namespace

/// One entry of the queue: a piece of the stream, or its end.
struct Sha512Pipeline::Entry {
    QByteArray piece;
    /// The end of the stream: deliver the result to `context`.
    bool end = false;
    QObject *context = nullptr;
    Result result;
    /// The stream (see State::stream) the end entry belongs to.
    quint64 stream = 0;
};

/// Shared by the pipeline and its drain job, so that a job still queued in
/// the pool when the pipeline goes away finds valid (emptied) state.
struct Sha512Pipeline::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Entry> queue;
    /// Bytes in `queue`, not counting the piece being digested.
    qint64 queuedBytes = 0;
    /// A drain job is queued or running; only that job touches `digest`
    /// while it is set.
    bool draining = false;
    Sha512Accumulator digest;
    /// Counts the restarts. Written only on the producer's thread, where the
    /// result is also delivered: a result of an earlier stream is dropped.
    quint64 stream = 0;

    void waitUntilIdle(std::unique_lock<std::mutex> &lock) {
        changed.wait(lock, [this] { return !draining; });
    }
    /// Empties the queue; the caller holds the lock.
    void drop() {
        queue.clear();
        queuedBytes = 0;
        changed.notify_all();
    }
};

Sha512Pipeline::Sha512Pipeline() : m_State(std::make_shared<State>()) {}

Sha512Pipeline::~Sha512Pipeline() {
    std::unique_lock<std::mutex> lock(m_State->mutex);
    ++m_State->stream;
    m_State->drop();
    m_State->waitUntilIdle(lock);
}

void Sha512Pipeline::restart() {
    std::unique_lock<std::mutex> lock(m_State->mutex);
    ++m_State->stream;
    m_State->drop();
    m_State->waitUntilIdle(lock);
    m_State->digest.restart();
}

void Sha512Pipeline::enqueue(const std::shared_ptr<State> &state, Entry entry) {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->changed.wait(lock, [&] { return state->queuedBytes < kMaxQueuedBytes; });
    state->queuedBytes += entry.piece.size();
    state->queue.push_back(std::move(entry));
    if (!state->draining) {
        state->draining = true;
        lock.unlock();
        // The job is built before the hand-off so that the pool's thread,
        // which reads it, is ordered after every write to it.
        std::function<void()> job = [state] {
            poolTakeOver(digestPool());
            drain(state);
        };
        poolHandOff(digestPool());
        digestPool()->start(std::move(job));
    }
}

void Sha512Pipeline::add(const QByteArray &piece) {
    if (!piece.isEmpty()) {
        Entry entry;
        entry.piece = piece;
        enqueue(m_State, std::move(entry));
    }
}

void Sha512Pipeline::finishLater(QObject *context, Result result) {
    std::unique_lock<std::mutex> lock(m_State->mutex);
    if (!m_State->draining) {
        // Caught up already (the queue is empty whenever no job drains it):
        // the last block is finished here, without a round trip through the
        // pool.
        lock.unlock();
        deliver(m_State, context, std::move(result), m_State->stream, m_State->digest.finishHex());
        return;
    }
    lock.unlock();
    Entry entry;
    entry.end = true;
    entry.context = context;
    entry.result = std::move(result);
    entry.stream = m_State->stream;
    enqueue(m_State, std::move(entry));
}

void Sha512Pipeline::deliver(const std::shared_ptr<State> &state, QObject *context, Result result,
                             quint64 stream, const QString &hexDigest) {
    // A context that dies before the call runs takes the call with it.
    QMetaObject::invokeMethod(
        context,
        [state, stream, result = std::move(result), hexDigest] {
            if (state->stream == stream) {
                result(hexDigest);
            }
        },
        Qt::QueuedConnection);
}

void Sha512Pipeline::drain(const std::shared_ptr<State> &state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->queue.empty()) {
        Entry entry = std::move(state->queue.front());
        state->queue.pop_front();
        state->queuedBytes -= entry.piece.size();
        state->changed.notify_all();
        lock.unlock();
        if (!entry.end) {
            state->digest.add(entry.piece.constData(), entry.piece.size());
        } else {
            // Posted while the pipeline cannot be destroyed (it waits for
            // this job), so the context is alive.
            deliver(state, entry.context, std::move(entry.result), entry.stream,
                    state->digest.finishHex());
        }
        lock.lock();
    }
    state->draining = false;
    state->changed.notify_all();
}
