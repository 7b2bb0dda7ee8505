#pragma once

#include "data/storage.h"

class KeptRosterLines;

// The club roster (mbr, in memory) and the roster file's load into it and
// into the contacts.
class RosterStore : public StorageFamily {
public:
    explicit RosterStore(Storage &owner);
    ~RosterStore();

    // ---- The club roster.

    bool isMember(const QString &call) const;
    bool hasMembers() const;
    Result addMember(const QString &call);
    Result removeMember(const QString &call);
    Result clearMembers();
    // Adds the members named by the lines' first fields in one transaction:
    // none is kept when none came or one could not be stored.
    Loaded addMembers(const LineSource &next);
    // One member line of a roster file: its contact data when the line holds
    // a whole record, with the phone as stored (digits only).
    struct RosterLine {
        const CsvBytes *fields = nullptr;
        bool withContact = false;
        QString phone;
    };
    using RosterSource = std::function<const RosterLine *()>;
    // Replaces the roster by the lines' members and merges their contact
    // data into the contacts, where an empty field never erases a stored
    // one. All or nothing: a failure or a file without members leaves the
    // roster and the contacts as they were.
    // A set `cancel` ends the load with both as they were.
    Loaded loadRoster(const RosterSource &next, const std::atomic<bool> *cancel = nullptr);
    // The members' contact rows in roster order (by suffix); the row's
    // columns after the first are the 19 of a roster file.
    Result eachMemberContact(const std::function<void(const StoredRow &)> &row) const;
    // The roster's members that have a contact row, by suffix.
    Result eachMemberLine(const std::function<void(const ContactLine &)> &line) const;
    // The roster run's share of a looked-up call sign: it joins the roster,
    // and its record is stored; what the operator stored wins field by
    // field, except the licence data.
    Result storeLookedUpMember(ContactRecord record);

    // Fills the worker's roster with `calls`, for the roster report.
    Result setMembers(const QStringList &calls);
    // The roster's calls in the order they joined, and how many there are.
    QStringList memberCalls() const;
    qint64 memberCount() const;

private:
    friend class Storage;
    friend class ContactStore;
    friend class NetLogStore;
    friend class JournalStore;
    // A roster load's two steps: the file into the members, its contact
    // data kept; then that data merged into the contacts, in one write
    // transaction that gives way to the window and runs again (`runs`).
    Loaded readRoster(const RosterSource &next, const std::atomic<bool> *cancel, KeptRosterLines &kept);
    Result mergeRosterContacts(const KeptRosterLines &kept, const std::atomic<bool> *cancel, bool *cancelled,
                               int *runs);
    // The roster and contact rows alone, journalled by the caller if at all.
    Result insertMember(const QString &call);
    Result deleteMember(const QString &call);
};
