#include "thumbnailqueue.h"

#include "thumbnails.h"
#include "core/cores.h"
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "media/moviedecoder.h"

#include <QHash>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Two progressive 12 MP photos decoded at once would hold 100 MB of coefficients; one at a time
// is as fast on the whole, since the others are decoded beside it.
constexpr quint64 kDecodeMemoryBudget = quint64(64) << 20;

// Set by tests while workers may run: each worker takes its own reference under the lock.
std::mutex g_hookMutex;
std::shared_ptr<const CThumbnailQueue::DecodeHook> g_decodeHook;

std::shared_ptr<const CThumbnailQueue::DecodeHook> DecodeHookNow()
{
    std::lock_guard lock(g_hookMutex);
    return g_decodeHook;
}

} // namespace

struct CThumbnailQueue::State {
    struct Job {
        quint64 id;
        quint64 generation;
        QString path;
        quint64 memory;
    };
    struct Ready {
        quint64 id;
        quint64 generation;
        QImage thumbnail;
    };

    QSize cell;
    QRgb background;
    mutable std::mutex mutex;
    std::condition_variable workAvailable, allDone;
    std::deque<Job> waiting;
    // The newest request of every entry asked for and not yet taken.
    QHash<quint64, quint64> latest;
    std::deque<Ready> ready;
    quint64 generations = 0;
    int running = 0;
    bool stop = false;
    // The decode memory the workers hold now.
    quint64 memoryInUse = 0;

    // The first job the budget lets a worker start: a job that needs much waits while others
    // hold much, and the ones behind it go first meanwhile.
    std::deque<Job>::iterator Startable()
    {
        for (auto it = waiting.begin(); it != waiting.end(); ++it)
            if (memoryInUse == 0 || memoryInUse + it->memory <= kDecodeMemoryBudget)
                return it;
        return waiting.end();
    }

    // A request replaces whatever of the entry still waits.
    void Ask(quint64 id, const QString &path, quint64 memory, bool first)
    {
        std::lock_guard lock(mutex);
        Drop(id);
        const quint64 generation = ++generations;
        latest.insert(id, generation);
        if (first)
            waiting.push_front({id, generation, path, memory});
        else
            waiting.push_back({id, generation, path, memory});
        workAvailable.notify_one();
    }

    void Drop(quint64 id)
    {
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                     [id](const Job &j) { return j.id == id; }),
                      waiting.end());
    }

    static void Work(const std::shared_ptr<State> &state)
    {
        State &s = *state;
        std::unique_lock lock(s.mutex);
        ++s.running;
        for (;;) {
            s.workAvailable.wait(lock, [&] { return s.stop || s.Startable() != s.waiting.end(); });
            if (s.stop)
                break;
            const auto it = s.Startable();
            const Job job = std::move(*it);
            s.waiting.erase(it);
            s.memoryInUse += job.memory;
            lock.unlock();
            if (const auto hook = DecodeHookNow())
                (*hook)(job.path);
            QImage thumbnail = MakeThumbnail(job.path, s.cell.width(), s.cell.height(), s.background);
            lock.lock();
            s.memoryInUse -= job.memory;
            // What waited for the budget may start now.
            if (job.memory > 0)
                s.workAvailable.notify_all();
            if (s.latest.value(job.id) == job.generation)
                s.ready.push_back({job.id, job.generation, std::move(thumbnail)});
        }
        --s.running;
        s.allDone.notify_all();
    }
};

CThumbnailQueue::CThumbnailQueue(QSize cell, QRgb background, int workers)
    : m_state(std::make_shared<State>())
{
    m_state->cell = cell;
    m_state->background = background;
    const int count = workers > 0 ? workers : UsableCores();
    for (int i = 0; i < count; ++i)
        std::thread([state = m_state] { State::Work(state); }).detach();
}

// A worker still in a decode finishes it on its own; the state it works on outlives the queue.
// A moment is given for that, so that a list that closes leaves no thread running after it
// when it can help it.
CThumbnailQueue::~CThumbnailQueue()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stop = true;
    m_state->waiting.clear();
    m_state->latest.clear();
    m_state->ready.clear();
    m_state->workAvailable.notify_all();
    m_state->allDone.wait_for(lock, std::chrono::seconds(1), [&] { return m_state->running == 0; });
}

void CThumbnailQueue::Enqueue(quint64 id, const QString &path, quint64 decodeMemory)
{
    m_state->Ask(id, path, decodeMemory, false);
}

void CThumbnailQueue::EnqueueFront(quint64 id, const QString &path, quint64 decodeMemory)
{
    m_state->Ask(id, path, decodeMemory, true);
}

void CThumbnailQueue::Prioritize(const QList<quint64> &ids)
{
    std::lock_guard lock(m_state->mutex);
    std::deque<State::Job> &waiting = m_state->waiting;
    // Taken out in the order given, then put in front as one block.
    std::vector<State::Job> first;
    for (quint64 id : ids) {
        const auto it = std::find_if(waiting.begin(), waiting.end(),
                                     [id](const State::Job &j) { return j.id == id; });
        if (it != waiting.end()) {
            first.push_back(std::move(*it));
            waiting.erase(it);
        }
    }
    waiting.insert(waiting.begin(), std::make_move_iterator(first.begin()),
                   std::make_move_iterator(first.end()));
}

void CThumbnailQueue::Cancel(const QList<quint64> &ids)
{
    std::lock_guard lock(m_state->mutex);
    for (quint64 id : ids) {
        m_state->latest.remove(id);
        m_state->Drop(id);
    }
    std::deque<State::Ready> &ready = m_state->ready;
    ready.erase(std::remove_if(ready.begin(), ready.end(),
                               [&](const State::Ready &r) { return !m_state->latest.contains(r.id); }),
                ready.end());
}

void CThumbnailQueue::CancelAll()
{
    std::lock_guard lock(m_state->mutex);
    m_state->latest.clear();
    m_state->waiting.clear();
    m_state->ready.clear();
}

QList<CThumbnailQueue::Result> CThumbnailQueue::Take(int max)
{
    QList<Result> out;
    std::lock_guard lock(m_state->mutex);
    while (!m_state->ready.empty() && out.size() < max) {
        State::Ready r = std::move(m_state->ready.front());
        m_state->ready.pop_front();
        if (m_state->latest.value(r.id) != r.generation)
            continue;
        m_state->latest.remove(r.id);
        out.append({r.id, std::move(r.thumbnail)});
    }
    return out;
}

bool CThumbnailQueue::Idle() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->latest.isEmpty();
}

int CThumbnailQueue::Pending() const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->latest.size());
}

void CThumbnailQueue::SetDecodeHookForTests(DecodeHook hook)
{
    std::lock_guard lock(g_hookMutex);
    g_decodeHook = hook ? std::make_shared<const DecodeHook>(std::move(hook)) : nullptr;
}

QList<HeaderRead> ReadHeaders(const QStringList &paths,
                              const std::function<void(int done)> &whileWaiting)
{
    const int count = int(paths.size());
    QList<HeaderRead> reads(count);
    // Taken once here: the threads never touch the list itself.
    HeaderRead *const cells = reads.data();
    std::atomic<int> next{0}, done{0};
    // Each read goes into its own slot, and the threads are joined before the list is handed
    // out.
    auto work = [&] {
        for (int i; (i = next.fetch_add(1)) < count;) {
            PxImage probe;
            PxHeaderInfo header;
            HeaderRead &read = cells[i];
            read.readable = IsMovieFile(paths[i]) || LoadImageFileHeader(probe, paths[i], header);
            read.decodeMemory = header.decodeMemory;
            ++done;
        }
    };
    // A few files are read at once here; threads pay off only for more.
    const int workers = count < 16 ? 0 : std::min(UsableCores(), count);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back(work);
    if (workers == 0)
        work();
    while (done.load() < count) {
        if (whileWaiting)
            whileWaiting(done.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (std::thread &t : threads)
        t.join();
    return reads;
}
