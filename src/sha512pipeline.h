#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class QObject;

/// SHA-512 of a byte stream whose pieces are digested on a worker thread
/// while the producer goes on with its own work (receiving, writing).
///
/// The producer hands over whole pieces with add(); a piece is shared, not
/// copied (QByteArray's copy on write makes a later write on the producer's
/// side detach instead of racing). Pieces are digested in the order they
/// were added, and the result is the same as Sha512Accumulator's for the
/// concatenation of the pieces.
///
/// All member functions are called from one thread, the producer's, which
/// runs a Qt event loop: the result comes back through it. The worker runs on
/// a pool reserved for digests, never on the global pool, so waiting for
/// global pool work (ASyncTaskSpecification::reset) does not wait for a
/// digest and a digest never queues behind a long file operation.
class Sha512Pipeline {
public:
    /// Most bytes waiting to be digested; add() blocks while they are
    /// reached, which bounds the memory a fast producer can pile up behind a
    /// slow worker (to this plus the piece in progress and the new one).
    static constexpr qint64 kMaxQueuedBytes = qint64(8) * 1024 * 1024;

    /// Receives the digest as 128 lower-case hexadecimal characters, or an
    /// empty text on a library failure.
    using Result = std::function<void(const QString &hexDigest)>;

    /// Starts a digest at once, as restart() does.
    Sha512Pipeline();
    /// Drops the pieces and the result not yet delivered; waits for the
    /// piece being digested.
    ~Sha512Pipeline();
    Sha512Pipeline(const Sha512Pipeline &) = delete;
    Sha512Pipeline &operator=(const Sha512Pipeline &) = delete;

    /// Drops the pieces not yet digested and a result not yet delivered,
    /// waits for the piece in progress and starts the digest of an empty
    /// stream.
    void restart();
    /// Queues `piece` for digesting; empty pieces are ignored.
    void add(const QByteArray &piece);
    /// Ends the digest of everything added since restart(): once the worker
    /// has caught up, `result` runs on the producer's thread, from its event
    /// loop (never inside this call), with `context` as the receiver; a
    /// context destroyed before that drops the call. The context must not
    /// be destroyed before the pipeline (typically it owns the pipeline).
    /// restart() before adding again.
    void finishLater(QObject *context, Result result);

private:
    struct Entry;
    struct State;
    /// Queues `entry`, waiting while the queue is full, and makes sure a
    /// drain job will take it.
    static void enqueue(const std::shared_ptr<State> &state, Entry entry);
    /// Posts `result` (hexDigest) to the context's thread; it runs there
    /// unless the pipeline has restarted since `stream` ended.
    static void deliver(const std::shared_ptr<State> &state, QObject *context, Result result,
                        quint64 stream, const QString &hexDigest);
    /// The drain job: digests the queued pieces in order until none is
    /// left, delivering the result when it reaches the end of the stream.
    static void drain(const std::shared_ptr<State> &state);

    std::shared_ptr<State> m_State;
};
