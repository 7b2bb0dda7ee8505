#pragma once

#include "data/storage.h"

// The local journal of changes not yet sent to the club server, and the
// other programs' changes it applies (data/journal.cpp).
class JournalStore : public StorageFamily {
public:
    explicit JournalStore(Storage &owner);
    ~JournalStore();

    // While on, every change of the net list is written to the journal in
    // Contacts.db by triggers of this connection, in the change's own
    // transaction; the first entry of a net starts a shared net. Off, the
    // file is not touched. Reopening Contacts.db turns it off.
    Result setJournal(bool on);
    bool journalOn() const { return owner.journalling; }
    // This program's id on the club server, made once per Contacts.db.
    QString syncClient() const;
    // The shared net this list belongs to, if any.
    std::optional<SyncNet> sharedNet() const;
    Result joinNet(const SyncNet &net);
    // Empties the list and leaves the shared net, without telling the other
    // programs: the net goes on there.
    Result leaveNet();
    QList<SyncChange> unsentChanges(int limit) const;
    int unsentCount() const;
    Result markSent(qint64 upTo);
    // This program's changes that the server would refuse: never sent, and
    // older than any change the server holds.
    Result markUnsendable(const QStringList &ids);
    // Shifts the clock that dates journalled changes (the tests' fake clock).
    Result setJournalClock(qint64 shiftSeconds);
    // While a net logged on paper is entered: the time its changes are made
    // at, and its net change marked as entered afterwards. Invalid: the clock's.
    Result setPastTime(const QDateTime &at);
    // The server's last change received.
    qint64 syncWatermark() const;
    // Stores other programs' changes in the journal and applies those of the
    // shared net to the list and the log, one entry per call: an entry takes
    // a change only when it is the latest of that entry in the server's order
    // (its seq; a change of this program not yet back from the server is
    // later than all). One transaction.
    // Contact and roster changes are applied whatever the net; a roster
    // change only to the roster of the club set here.
    Result applyChanges(const QList<SyncChange> &changes, qint64 watermark, bool *listChanged = nullptr,
                        bool *rosterChanged = nullptr);
    void setRosterClub(const QString &club) { rosterClub = club; }
    // Journals how the roster differs from `before` (a roster loaded or
    // rebuilt by the operator): one change per call that joined or left.
    Result journalRoster(const QStringList &before);

private:
    friend class Storage;
    friend class ContactStore;
    friend class NetLogStore;
    friend class RosterStore;
    QString rosterClub;
    // UTC, as a change's made; empty outside a past net.
    QString pastAt;
    Result journalMembers(const QStringList &joined, const QStringList &left);
    // The steps of applyChanges, inside its transaction: each false with
    // the failure in the run's result.
    struct Applying;
    bool applyAll(Applying &a, const QList<SyncChange> &changes, qint64 watermark);
    bool applyChange(Applying &a, const SyncChange &change);
    bool applyContact(Applying &a, const SyncChange &change);
    bool applyMember(Applying &a, const SyncChange &change);
    bool applyEntry(Applying &a, const SyncChange &change);
    // The entry's log row as the other program logged it, or none.
    bool applyEntryLog(Applying &a, const SyncChange &change, int &logId);
    // A station new to this list.
    bool addEntry(Applying &a, const SyncChange &change, int logId);
};
