#pragma once

#include "data/csv.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A load's lines read and split on a thread of their own, a few batches
// ahead of the statements that store them: with two cores the file's text
// costs the load next to no time of its own. The source runs on that
// thread only, from the constructor until it gives null or the prefetch is
// destroyed; what it counts or logs is the caller's to read after that.
class LinePrefetch {
public:
    using Source = std::function<const CsvBytes *()>;
    // `position` tells the bytes read so far; asked on the reading thread.
    LinePrefetch(Source source, std::function<qint64()> position);
    // Stops the reading thread and waits for it.
    ~LinePrefetch();
    LinePrefetch(const LinePrefetch &) = delete;
    LinePrefetch &operator=(const LinePrefetch &) = delete;

    // The next line, valid until the next call; null after the last.
    const CsvBytes *next();
    // Bytes read as of the last batch handed over, for the progress bar.
    qint64 position() const { return read.load(std::memory_order_relaxed); }

private:
    struct Batch {
        std::vector<CsvBytes> lines;
        size_t count = 0;
    };
    void produce();
    std::unique_ptr<Batch> emptyBatch();

    Source source;
    std::function<qint64()> where;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Batch>> full; // oldest first
    std::vector<std::unique_ptr<Batch>> spare;
    std::unique_ptr<Batch> current;
    size_t at = 0;
    bool ended = false;
    bool stopping = false;
    std::atomic<qint64> read{0};
    std::thread reader;
};
