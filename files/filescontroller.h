#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

#include "data/storage.h"

class CsvWriter;
class QStatusBar;
// What a load on the worker came to (files/filescontroller.cpp, rosterfiles.cpp).
struct TableFileLoad;
struct RosterFileLoad;

// The program's CSV files: the contacts and the net log saved and loaded
// whole, the club roster loaded (with its members' contact data) and saved,
// and the club's own roster file that follows every change of the roster.
// Loads and big saves run as the one bulk job, on a thread when large.
class FilesController : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // Where a cancelled job says so.
        QStatusBar *statusBar = nullptr;
    };

    struct Host {
        // The one answer to a change Storage could not store (box and log
        // line); whether it was stored.
        std::function<bool(const Storage::Result &, const QString &)> stored;
        // True, with the box naming it, while another bulk job runs.
        std::function<bool()> refuseBulkJob;
        // Runs `body` as the bulk job `name` (on a thread when `onThread`),
        // then `done` on the window's thread; false while another job runs.
        std::function<bool(const QString &name, const QString &message, const QString &cancelTip, bool onThread,
                           const std::function<void(const std::atomic<bool> &, const std::function<void(int)> &)> &body,
                           const std::function<void()> &done)>
            runFileWork;
        // Runs `work` on a thread of its own, no bulk job, ended at exit;
        // `ended` on the window's thread.
        std::function<void(const QString &name, const std::function<void(const std::atomic<bool> &)> &work,
                           const std::function<void()> &ended)>
            runBeside;
        std::function<QString()> dataDir;
        std::function<QString()> club;
    };

    FilesController(const Widgets &widgets, Storage &storage, Host host, QObject *parent = nullptr);

    // Files and tables up to these sizes are handled at once: they take less
    // than a frame. Larger ones go to a thread of their own.
    static inline qint64 inlineFileBytes = 1'000'000;
    static inline qint64 inlineRows = 10'000;

    // The club roster in memory from a roster file: its members only, the
    // contacts untouched (the club's file at start and on a club change).
    void loadMembers(const QString &fileName);
    // The club's own roster file, Roster-{club}.csv in the data directory.
    QString clubRosterFile() const;
    void loadClubMembers() { loadMembers(clubRosterFile()); }
    // A roster file into the roster and the contacts, as the bulk job.
    void loadRoster(const QString &fileName);
    // While the work after a load runs: the table it replaced dropped, its
    // last index built.
    bool finishingLoad() const { return dropping; }
    // At start: what an exit left of that work, done beside the window.
    void dropReplacedTables() { dropReplaced(); }
    // At exit: no more work after a load is started (what is left is done
    // at the next start).
    void close();
    void saveRoster(const QString &fileName);
    // Written at once after every change of the roster.
    void saveClubRoster() { saveRoster(clubRosterFile()); }
    // Empties the roster in memory.
    void emptyRoster();

public slots:
    // The File menu: each asks for the file first.
    void saveContacts();
    void saveNetLog();
    void loadContacts();
    void loadNetLog();
    void loadRosterFile();
    void saveRosterFile();

signals:
    void errorLine(const QString &line);
    // The contacts, or the roster, changed: open reports show them again.
    void contactsChanged();
    void rosterChanged();

private:
    // A CSV file that could not be written whole: box and log line, with the
    // system's reason when there is one.
    void reportUnwritableFile(const QString &fileName, const QString &reason = QString());
    // A load that took no line: the "Nothing Loaded" box and a log line.
    void reportNothingLoaded(const QString &fileName, const QString &reason, const QString &kept);
    void reportUnreadableRoster(const QString &fileName);

    // Writes a CSV file from stored rows: the header, then what `rows` appends.
    bool saveRows(const QString &fileName, const QString &header,
                  const std::function<Storage::Result(CsvWriter &)> &rows);
    void saveTable(Storage::Table table, const QString &fileName);
    void loadTable(Storage::Table table, const QString &fileName);
    // The window's part of a load once the worker is done: boxes, log lines,
    // and the reports told.
    void finishTableLoad(const TableFileLoad &outcome, const QString &fileName, Storage::Table table);
    // False, with the box, when `fileName` cannot be a roster.
    bool rosterReadable(const QString &fileName);
    void finishRosterLoad(const RosterFileLoad &outcome, const QString &fileName);
    // Drops what a finished load replaced, beside the window.
    void dropReplaced();

    Widgets w;
    Storage &storage;
    Host host;
    // A roster file that could not be read when the club's roster was loaded:
    // it is not overwritten while the roster in memory is empty.
    QString unreadRoster;
    bool dropping = false;
    bool dropAgain = false;
    bool closing = false;
};
