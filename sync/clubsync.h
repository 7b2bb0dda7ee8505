#pragma once

#include "data/storage.h"
#include "jobs/jobrunner.h"
#include "sync/syncrecords.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

class QThread;
class SyncWorker;

// The window's side of the club server: hands the journal's unsent changes
// to the worker on its thread, applies what the worker receives through
// Storage, and says how the link stands. Contacts.db is only ever touched
// from the window's thread.
class ClubSync : public QObject {
    Q_OBJECT

public:
    enum class State { Off, Connecting, Online, Offline, Refused };

    // The link's threads come from `runner`.
    ClubSync(Storage &storage, JobRunner *runner, QObject *parent = nullptr);
    ~ClubSync() override;

    // (Re)starts the link with these settings; the journal must be on.
    void start(const QString &conninfo, const QString &password);
    void stop();
    State state() const { return current; }
    // Whether the link has come up since start().
    bool everOnline() const { return wasOnline; }
    // The hub's one box per start has been shown.
    bool troubleShown = false;
    // "Club server: ..." for the status bar; empty while off.
    QString statusText() const;
    // "encrypted" or "not encrypted" while online; else empty.
    QString linkText() const;
    // The log-in the link uses, as the status bar names it ("N7NCS").
    QString login() const { return user; }

    // One test of a connection on a thread of its own; tested() comes with
    // the dialog's words for the outcome.
    void test(const QString &conninfo, const QString &password);

    // The changes at most sent in one transaction.
    static constexpr int Batch = 1000;
    // The other programs' changes applied in one transaction: a slice takes
    // about 20 ms, so a backlog never holds the window long.
    static constexpr int ApplySlice = 100;

public slots:
    // Something was journalled: send it when the link is up.
    void pump();
    // The operator joins a net another program started.
    void join(const SyncNet &net);

signals:
    void statusChanged(const QString &text);
    void tested(const QString &text);
    // The link failed (SyncWorker::Trouble); the hub decides on a box.
    void trouble(int kind, const QString &reason);
    void netOffered(const SyncNet &net);
    // Other programs' changes changed the list.
    void listChanged();
    // Other programs' changes changed this club's roster.
    void rosterChanged();
    void applyFailed(const Storage::Result &result);
    // A change was not used: for the error log.
    void changeSkipped(const QString &text);

    // To the worker.
    void startWorker(const QString &conninfo, const QString &password, qint64 after);
    void sendChanges(const QList<SyncChange> &changes);
    void fetchNet(const QString &net);
    void rewindWorker(qint64 after);
    void stopWorker();

private:
    void setState(State state);
    void workerOnline(int version, bool encrypted);
    void workerOffline(int kind, const QString &reason);
    void changesSent(qint64 upTo);
    void changesReceived(const QList<SyncChange> &changes, qint64 last);
    void netsOpen(const QList<SyncNet> &nets);
    void netFetched(const QString &net, const QList<SyncChange> &changes);
    void queue(const QList<SyncChange> &changes, bool advance);
    void applySlice();
    // Logs a change not used; each once, the first hundred of a run, then a count.
    void skip(const QString &key, const QString &text);

    Storage &storage;
    QPointer<JobRunner> runner;
    // The worker's thread, the runner's; null while off.
    QThread *thread = nullptr;
    JobRunner::Id threadJob = 0;
    SyncWorker *worker = nullptr;
    State current = State::Off;
    bool inFlight = false;
    bool wasOnline = false;
    bool encrypted = false;
    int waiting = 0;
    QString user;
    // Received, not yet applied; `advance`: the change moves the watermark.
    struct Incoming {
        SyncChange change;
        bool advance = true;
        // False for a change that failed the checks: only passed over.
        bool usable = true;
    };
    QList<Incoming> incoming;
    bool sliceDue = false;
    bool listDirty = false;
    bool rosterDirty = false;
    // Nets offered once this run.
    QSet<QString> offered;
    // The journal place up to which the batch in flight reaches, changes
    // that were not sent included.
    qint64 batchEnd = 0;
    bool pumping = false;
    QSet<QString> skipped;
    int skippedUnlogged = 0;
};
