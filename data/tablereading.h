#pragma once

#include "data/storage.h"

#include <functional>

// One table read by two workers at once, each on its own connection and
// thread, from one state of the file (the contacts or net log saved whole).
namespace TableReading {

// Holds the file's write lock on a connection of its own while it lives:
// read transactions that begin meanwhile all see the same state of the file.
// A window's write waits for it, a few milliseconds at most.
class WritesHeld {
public:
    explicit WritesHeld(const QString &path);
    ~WritesHeld();
    WritesHeld(const WritesHeld &) = delete;
    WritesHeld &operator=(const WritesHeld &) = delete;
    const Storage::Result &result() const { return held; }

private:
    QString name;
    Storage::Result held;
};

// A read transaction on `db` that holds its state of the file until
// endReading().
Storage::Result beginReading(const QSqlDatabase &db);
void endReading(const QSqlDatabase &db);

// The lowest and highest id of `table`; `last` < `first` when it is empty.
Storage::Result idRange(const QSqlDatabase &db, Storage::Table table, qint64 *first, qint64 *last);

// The rows whose ids lie in [from, to], in stored order; the columns after
// the id are those of the table's CSV file.
Storage::Result eachRowBetween(const QSqlDatabase &db, Storage::Table table, qint64 from, qint64 to,
                               const std::function<void(const StoredRow &)> &row);

} // namespace TableReading
