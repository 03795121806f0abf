#pragma once
// Thumbnails made on worker threads, one per core, while the window goes on answering: the
// list asks for the thumbnail of an entry by its id, the workers decode in the order asked (the
// entries in sight first), and the list collects what is ready on its own thread, a few at a
// time, so that no burst of results holds up its events.
//
// The workers share nothing with the queue object itself: a worker still decoding when the
// list goes away finishes on its own and its result is dropped.

#include <QImage>
#include <QList>
#include <QSize>
#include <QStringList>
#include <QString>
#include <functional>
#include <memory>

class CThumbnailQueue {
public:
    // Cells of cell size on background; workers: 0 for one per usable core.
    CThumbnailQueue(QSize cell, QRgb background, int workers = 0);
    ~CThumbnailQueue();
    CThumbnailQueue(const CThumbnailQueue &) = delete;
    CThumbnailQueue &operator=(const CThumbnailQueue &) = delete;

    // Asks for the thumbnail of the entry id (at the back, or ahead of everything waiting). An
    // entry asked for again is made again, and only the newest result is handed out.
    // decodeMemory: what its decode needs beyond the picture (PxHeaderInfo), so that the
    // workers together never hold more than a budget of it.
    void Enqueue(quint64 id, const QString &path, quint64 decodeMemory = 0);
    void EnqueueFront(quint64 id, const QString &path, quint64 decodeMemory = 0);
    // Moves those of ids that still wait ahead of the others, in the order given.
    void Prioritize(const QList<quint64> &ids);
    // Forgets the entries: what waits is dropped, what is being made is dropped when ready.
    void Cancel(const QList<quint64> &ids);
    void CancelAll();

    struct Result {
        quint64 id = 0;
        // Null when the file's picture could not be decoded.
        QImage thumbnail;
    };
    // What is ready, oldest first, at most max of them.
    QList<Result> Take(int max);
    // Nothing waits, nothing is being made and nothing is ready to be taken.
    bool Idle() const;
    // Entries asked for and not yet taken.
    int Pending() const;

    // Called on the worker with each path before it is decoded (a test holds the workers up).
    using DecodeHook = std::function<void(const QString &path)>;
    static void SetDecodeHookForTests(DecodeHook hook);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Whether each file's header reads (as a plan of a batch reads it: its format and size, no
// pixels), worked out on every core. whileWaiting runs on the calling thread every few
// milliseconds with the number of files read so far, until all are. A slideshow movie counts
// as readable: its first slide is its picture.
struct HeaderRead {
    bool readable = false;
    quint64 decodeMemory = 0;
};
QList<HeaderRead> ReadHeaders(const QStringList &paths,
                              const std::function<void(int done)> &whileWaiting);
