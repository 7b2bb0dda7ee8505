#include "files/lineprefetch.h"

#include <algorithm>

namespace {
constexpr size_t BatchLines = 512;
// Batches read ahead at most: enough to ride out a slow commit, little
// memory (a few megabytes at worst).
constexpr size_t Ahead = 4;
} // namespace

LinePrefetch::LinePrefetch(Source lines, std::function<qint64()> position)
    : source(std::move(lines)), where(std::move(position))
{
    reader = std::thread([this] { produce(); });
}

LinePrefetch::~LinePrefetch()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    reader.join();
}

std::unique_ptr<LinePrefetch::Batch> LinePrefetch::emptyBatch()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return stopping || full.size() < Ahead; });
    if (stopping)
        return nullptr;
    if (spare.empty())
        return std::make_unique<Batch>();
    std::unique_ptr<Batch> batch = std::move(spare.back());
    spare.pop_back();
    return batch;
}

void LinePrefetch::produce()
{
    bool more = true;
    while (more) {
        std::unique_ptr<Batch> batch = emptyBatch();
        if (!batch)
            return;
        // Each slot keeps its buffers from batch to batch: copying a line
        // in allocates nothing once the first batches went round.
        batch->lines.resize(BatchLines);
        batch->count = 0;
        while (batch->count < BatchLines) {
            const CsvBytes *line = source();
            if (!line) {
                more = false;
                break;
            }
            batch->lines[batch->count++] = *line;
        }
        read.store(where(), std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> lock(mutex);
            full.push_back(std::move(batch));
            ended = !more;
        }
        changed.notify_all();
    }
}

const CsvBytes *LinePrefetch::next()
{
    if (current && at < current->count)
        return &current->lines[at++];
    std::unique_lock<std::mutex> lock(mutex);
    if (current)
        spare.push_back(std::move(current));
    changed.notify_all();
    changed.wait(lock, [this] { return !full.empty() || ended; });
    if (full.empty())
        return nullptr;
    current = std::move(full.front());
    full.erase(full.begin());
    at = 0;
    lock.unlock();
    changed.notify_all();
    return next();
}
