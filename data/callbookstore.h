#pragma once

#include "data/rows.h"
#include "data/storage.h"

#include <QSqlDatabase>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace Direct {
class Statement;
}

// CallBook.db, the offline call book: one row per active licence, by call
// sign, apart from Contacts.db so that a new import replaces it whole. The
// window's thread only reads it; an import writes a new file on its own
// thread and connection, and the window's side puts it in place.
class CallBookStore {
public:
    CallBookStore();
    ~CallBookStore();
    CallBookStore(const CallBookStore &) = delete;
    CallBookStore &operator=(const CallBookStore &) = delete;

    // Opens the call book at `path` for look-ups. A missing file is no
    // failure (there is no call book yet); one that is not a call book is,
    // with the driver's text in `error`.
    bool open(const QString &path, QString *error = nullptr);
    void close();
    bool isOpen() const;
    QString path() const { return filePath; }
    // Licences held; -1 when none is open or it cannot be read.
    qint64 count() const;

    // The licence with exactly this call sign.
    std::optional<CallBookRecord> byCall(const QString &call, Storage::Result *failure = nullptr) const;

    // Gives the next row, or false at the end.
    using RowSource = std::function<bool(CallBookRow &row)>;
    using Progress = std::function<void(qint64 written)>;
    // Writes a new call book at `path` (replaced when it exists) from the
    // rows, which come sorted by call sign, on the calling thread with a
    // connection of its own; `source` is kept in the file's notes. A failure
    // or `cancel` leaves no file behind.
    static Storage::Result write(const QString &path, const QString &source, const RowSource &next,
                                 const std::atomic<bool> *cancel = nullptr, const Progress &progress = Progress());

    // Puts the file written at `fresh` in place of `target` in one step: a
    // reader sees either the old call book or the new one. Close the
    // target first where the system refuses to replace an open file.
    static Storage::Result replace(const QString &fresh, const QString &target);

private:
    QSqlDatabase db;
    QString connectionName;
    QString filePath;
    mutable std::unique_ptr<Direct::Statement> lookUp;
};
