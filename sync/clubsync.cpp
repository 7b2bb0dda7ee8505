#include "sync/clubsync.h"

#include "app/logging.h"
#include "sync/clublink.h"
#include "sync/syncworker.h"

#include <QAtomicInt>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

ClubSync::ClubSync(Storage &store, JobRunner *jobRunner, QObject *parent)
    : QObject(parent), storage(store), runner(jobRunner)
{
    qRegisterMetaType<SyncChange>();
    qRegisterMetaType<SyncNet>();
    qRegisterMetaType<QList<SyncChange>>();
    qRegisterMetaType<QList<SyncNet>>();
}

ClubSync::~ClubSync()
{
    stop();
    // The workers' threads end before their objects go, unless one is stuck
    // in a call on a link that went silent: the end does not wait on it.
    // Its connection is its own and nothing on it writes local data; the
    // changes it was sending stay unsent in the journal.
    if (runner)
        runner->stopOwnedBy(this);
}

void ClubSync::start(const QString &conninfo, const QString &password)
{
    stop();
    if (!runner)
        return;
    static QAtomicInt count;
    thread = runner->startLoop(QStringLiteral("the club server link"), this, &threadJob, JobRunner::Ending::MayBeLeft);
    worker = new SyncWorker(QStringLiteral("club-server-%1").arg(count.fetchAndAddRelaxed(1)));
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &ClubSync::startWorker, worker, &SyncWorker::start);
    connect(this, &ClubSync::sendChanges, worker, &SyncWorker::send);
    connect(this, &ClubSync::fetchNet, worker, &SyncWorker::fetchNet);
    connect(this, &ClubSync::rewindWorker, worker, &SyncWorker::rewind);
    connect(this, &ClubSync::stopWorker, worker, &SyncWorker::stop);
    connect(worker, &SyncWorker::online, this, &ClubSync::workerOnline);
    connect(worker, &SyncWorker::offline, this, &ClubSync::workerOffline);
    connect(worker, &SyncWorker::sent, this, &ClubSync::changesSent);
    connect(worker, &SyncWorker::received, this, &ClubSync::changesReceived);
    connect(worker, &SyncWorker::netsOpen, this, &ClubSync::netsOpen);
    connect(worker, &SyncWorker::netFetched, this, &ClubSync::netFetched);
    inFlight = false;
    wasOnline = false;
    troubleShown = false;
    user = ClubLink::fields(conninfo).user.toUpper();
    waiting = storage.journal().unsentCount();
    setState(State::Connecting);
    emit startWorker(conninfo, password, storage.journal().syncWatermark());
}

void ClubSync::stop()
{
    if (thread) {
        // Never waited for here: the worker may be inside a connection
        // attempt of seconds. It closes its connection on its own thread,
        // and the thread goes when it has finished.
        disconnect(worker, nullptr, this, nullptr);
        disconnect(this, nullptr, worker, nullptr);
        QMetaObject::invokeMethod(worker, &SyncWorker::stop, Qt::QueuedConnection);
        if (runner)
            runner->cancel(threadJob);
        thread = nullptr;
        threadJob = 0;
        worker = nullptr;
    }
    inFlight = false;
    incoming.clear();
    setState(State::Off);
}

QString ClubSync::statusText() const
{
    switch (current) {
    case State::Off:
        return QString();
    case State::Connecting:
        return QStringLiteral("Club server: connecting");
    case State::Online: {
        // Named by its log-in where the setting names one: the operator
        // sees under which call the net goes to the club.
        const QString online =
            (user.isEmpty() ? QStringLiteral("Club server: online") : "Club server: connected as " + user) + " ("
            + linkText() + ')';
        return waiting > 0 ? online + QStringLiteral(", %1 changes to send").arg(waiting) : online;
    }
    case State::Offline:
    case State::Refused:
        break;
    }
    return waiting == 1 ? QStringLiteral("Club server: offline, 1 change waiting")
                        : QStringLiteral("Club server: offline, %1 changes waiting").arg(waiting);
}

QString ClubSync::linkText() const
{
    if (current != State::Online)
        return QString();
    return encrypted ? QStringLiteral("encrypted") : QStringLiteral("not encrypted");
}

void ClubSync::test(const QString &conninfo, const QString &password)
{
    if (!runner)
        return;
    // The attempt may take seconds and cannot be interrupted: the end waits
    // for it as for the worker, then leaves it. It touches nothing of ours,
    // only its own copies and the text it hands back.
    const auto text = std::make_shared<QString>();
    qCDebug(lcSync) << "testing a connection";
    runner->start(
        QStringLiteral("the club server connection test"), this,
        [text, conninfo, password](const std::atomic<bool> &) {
            int version = 0;
            bool secure = false;
            const QString problem = SyncWorker::probe(conninfo, password, &version, &secure);
            *text = problem.isEmpty() ? QStringLiteral("Connected: the club server's schema is version %1.\n"
                                                       "The link is %2.")
                                            .arg(version)
                                            .arg(secure ? QStringLiteral("encrypted") : QStringLiteral("not encrypted"))
                                      : "Not connected: " + problem;
        },
        [this, text] { emit tested(*text); }, QThread::InheritPriority, JobRunner::Ending::MayBeLeft);
}

void ClubSync::setState(State state)
{
    if (state != current)
        qCDebug(lcSync) << "link state" << int(current) << "->" << int(state);
    current = state;
    emit statusChanged(statusText());
}

void ClubSync::pump()
{
    if (!thread)
        return;
    waiting = storage.journal().unsentCount();
    if (current != State::Online || inFlight) {
        emit statusChanged(statusText());
        return;
    }
    // Marking changes writes Contacts.db, which calls this again.
    if (pumping)
        return;
    pumping = true;
    for (;;) {
        QList<SyncChange> changes = storage.journal().unsentChanges(Batch);
        if (changes.isEmpty())
            break;
        const qint64 end = changes.last().oseq;
        // What the server would refuse would hold back everything after it.
        QList<SyncChange> fit;
        QStringList unsendable;
        for (SyncChange &change : changes) {
            const QString problem = syncCheck(change);
            if (problem.isEmpty()) {
                fit.append(change);
                continue;
            }
            unsendable.append(change.id);
            skip(QLatin1String("out ") + change.id, "Club server: a change made here was not sent: " + problem + '.');
        }
        Storage::Result marked = storage.journal().markUnsendable(unsendable);
        if (marked.ok() && fit.isEmpty())
            marked = storage.journal().markSent(end);
        if (!marked.ok()) {
            emit applyFailed(marked);
            break;
        }
        if (fit.isEmpty()) {
            waiting = storage.journal().unsentCount();
            continue;
        }
        batchEnd = end;
        inFlight = true;
        qCDebug(lcSync) << "sending" << fit.size() << "changes, up to" << end;
        emit sendChanges(fit);
        break;
    }
    pumping = false;
    emit statusChanged(statusText());
}

void ClubSync::skip(const QString &key, const QString &text)
{
    if (skipped.contains(key))
        return;
    if (skipped.size() >= 100) {
        ++skippedUnlogged;
        return;
    }
    skipped.insert(key);
    emit changeSkipped(text);
}

void ClubSync::join(const SyncNet &net)
{
    const Storage::Result joined = storage.journal().joinNet(net);
    if (!joined.ok()) {
        emit applyFailed(joined);
        return;
    }
    emit fetchNet(net.id);
}

void ClubSync::workerOnline(int, bool secure)
{
    encrypted = secure;
    inFlight = false;
    wasOnline = true;
    setState(State::Online);
    pump();
}

void ClubSync::workerOffline(int kind, const QString &reason)
{
    inFlight = false;
    waiting = storage.journal().unsentCount();
    setState(kind == 0 ? State::Offline : State::Refused);
    qCDebug(lcSync).noquote() << "offline:" << reason;
    emit trouble(kind, reason);
}

void ClubSync::changesSent(qint64 upTo)
{
    inFlight = false;
    const Storage::Result marked = storage.journal().markSent(std::max(upTo, batchEnd));
    if (!marked.ok())
        emit applyFailed(marked);
    pump();
}

void ClubSync::changesReceived(const QList<SyncChange> &changes, qint64)
{
    queue(changes, true);
}

void ClubSync::queue(const QList<SyncChange> &changes, bool advance)
{
    for (SyncChange change : changes) {
        const QString problem = syncCheck(change);
        if (problem.isEmpty()) {
            incoming.append({change, advance});
            continue;
        }
        skip(QString::number(change.seq),
             QStringLiteral("Club server: change %1 was skipped: %2.").arg(change.seq).arg(problem));
        // Never applied, but passed over in order: the watermark moves beyond it.
        incoming.append({change, advance, false});
    }
    if (!sliceDue && !incoming.isEmpty()) {
        sliceDue = true;
        QTimer::singleShot(0, this, &ClubSync::applySlice);
    }
}

void ClubSync::applySlice()
{
    sliceDue = false;
    if (incoming.isEmpty())
        return;
    QList<SyncChange> slice;
    qint64 watermark = storage.journal().syncWatermark();
    const int n = std::min<int>(ApplySlice, int(incoming.size()));
    for (int i = 0; i < n; ++i) {
        const Incoming &next = incoming.at(i);
        if (next.usable)
            slice.append(next.change);
        if (next.advance)
            watermark = std::max(watermark, next.change.seq);
    }
    incoming.remove(0, n);
    bool changed = false;
    bool roster = false;
    const Storage::Result applied = storage.journal().applyChanges(slice, watermark, &changed, &roster);
    if (!applied.ok()) {
        // Received again from the last change stored.
        incoming.clear();
        emit applyFailed(applied);
        emit rewindWorker(storage.journal().syncWatermark());
        return;
    }
    qCDebug(lcSync) << "applied" << slice.size() << "changes," << incoming.size() << "waiting";
    listDirty = listDirty || changed;
    rosterDirty = rosterDirty || roster;
    if (!incoming.isEmpty()) {
        sliceDue = true;
        QTimer::singleShot(0, this, &ClubSync::applySlice);
        return;
    }
    if (skippedUnlogged > 0) {
        emit changeSkipped(QStringLiteral("Club server: %1 more changes were skipped.").arg(skippedUnlogged));
        skippedUnlogged = 0;
    }
    // The list is drawn once the backlog is in.
    if (listDirty) {
        listDirty = false;
        emit listChanged();
    }
    if (rosterDirty) {
        rosterDirty = false;
        emit rosterChanged();
    }
}

void ClubSync::netsOpen(const QList<SyncNet> &nets)
{
    if (storage.journal().sharedNet() || !storage.netLog().listedEntries().isEmpty())
        return;
    const QString client = storage.journal().syncClient();
    for (const SyncNet &net : nets) {
        if (net.origin == client || offered.contains(net.id) || !syncNetUsable(net))
            continue;
        offered.insert(net.id);
        emit netOffered(net);
        return;
    }
}

void ClubSync::netFetched(const QString &net, const QList<SyncChange> &changes)
{
    const std::optional<SyncNet> shared = storage.journal().sharedNet();
    if (!shared || shared->id != net)
        return;
    // Every change of the net, some received before: the watermark stays.
    queue(changes, false);
}
