#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTextCharFormat>

#include <functional>
#include <optional>

#include "checkin/idreminder.h"
#include "data/storage.h"

class Contact;
class QAction;
class QLabel;
class QLineEdit;
class QSettings;
class QStatusBar;
class QTextEdit;
class QWidget;
class Station;
class ThemeState;

// The check-in desk: the net list and its roles, check-ins and relays, the
// entry's fields as the operator types them, removal of entries, contacts
// and log records, roster membership, the net left behind by a crash, the
// identification clock, and the Station and Contact dialogs. It fills the
// form it is handed and asks the rest of the program only through Host and
// its signals.
class CheckInDesk : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QLineEdit *search = nullptr;
        QLineEdit *call = nullptr;
        QLineEdit *name = nullptr;
        QLineEdit *city = nullptr;
        QLineEdit *state = nullptr;
        QLineEdit *qso = nullptr;
        QLineEdit *relay = nullptr;
        QLineEdit *member = nullptr;
        // The call F11 and F12 act on, and the record number of Delete Record.
        QLineEdit *delCon = nullptr;
        QLineEdit *delRec = nullptr;
        QLineEdit *checks = nullptr;
        QTextEdit *checkins = nullptr;
        // The clock field carries the identification alert.
        QWidget *time = nullptr;
        QStatusBar *statusBar = nullptr;
        // Show Check-in Data raises it.
        QWidget *checkInData = nullptr;
    };

    struct Host {
        // The one answer to a change Storage could not store (box and log
        // line); whether it was stored.
        std::function<bool(const Storage::Result &, const QString &)> stored;
        // A failed read: status bar and log line.
        std::function<void(const QString &, const Storage::Result &)> reportReadFailure;
        // Writes the club's roster file after a membership key.
        std::function<void()> saveClubRoster;
        // What the identification clock reads.
        std::function<QDateTime()> clockNow;
        // The time a change of the net is stored with; none, after a box,
        // when it cannot be taken and nothing is to be stored.
        std::function<std::optional<QDateTime>()> entryTime;
    };

    CheckInDesk(const Widgets &widgets, Storage &storage, const ThemeState *theme, Host host,
                QObject *parent = nullptr);
    ~CheckInDesk() override;

    // The dialogs of the desk; they have no parent and go with the desk.
    Station *stationDialog() const { return station; }
    Contact *contactDialog() const { return contact; }

    // The entry being typed: the net entry's id, 0 for a new one.
    int entry() const { return entryId; }
    void setEntry(int id) { entryId = id; }
    // The net entry the list marks.
    int markedEntry() const { return activeId; }
    // Moves the list's mark to entry `id` and stores it with the net.
    void markEntry(int id);
    // Operator edits in the entry that must not be lost when it is left.
    bool entryModified() const;

    // Stores the entry with key word `key` (NetRules bits).
    void storeEntry(int key);
    // The log letter of `call`'s role in the net.
    QString stationType(const QString &call) const;

    // At start-up: the Resume Net question when the last run left its net
    // list behind.
    void offerResume();
    // Empties the kept net list at the end of a net (exit, another data directory).
    void closeNet();

    // The ID reminder's switch and its settings key, in the group the caller opened.
    bool idReminderOn() const { return reminderOn; }
    void readSettings(QSettings &settings);
    void writeSettings(QSettings &settings) const;
    // The dialogs' geometry and whether they were open.
    void writeWindowSettings();
    // Opens the dialogs that were open at the last exit.
    void reopenDialogs();

public slots:
    // Draws the net list with the marked entry's line marked, or `marked`'s.
    void showNet();
    void showNet(int marked);

    // The role keys and buttons; from the search box they clear the entry after.
    void relay();
    void traffic();
    void mobile();
    void shortTime();
    void netControl();
    // F8: checks in or withdraws; Enter in the comment checks in.
    void logContact();
    void checkIn();
    void relayVia();
    void showCheckInData();

    // What the operator types, kept in the case the log wants.
    void callEdited(const QString &text);
    void nameEdited(const QString &text);
    void cityEdited(const QString &text);
    void stateEdited(const QString &text);
    void relayEdited(const QString &text);

    // F11, F12 and Delete Record.
    void removeFromNet();
    void deleteContact();
    void deleteLogRecord();

    // Ctrl++ and Ctrl+-: the call in the entry joins or leaves the roster.
    void makeMember();
    void dropMember();

    // Ctrl+I: net control has just given its call.
    void identify();
    void setIdReminderOn(bool on);
    // A net entered afterwards has no one to identify: the clock is hidden
    // without changing the operator's setting.
    void pauseIdReminder(bool paused);
    // Once a second and after each change of the net.
    void updateIdReminder();

    void showStationDetails();
    void editContact();
    void saveContact();

signals:
    void errorLine(const QString &line);
    // The net list or the log changed: open reports show them again.
    void netChanged();
    void logChanged();
    void contactsChanged();
    void rosterChanged();
    // A key pressed in the search box was stored: the search starts anew.
    void entryDone();

private:
    struct DrawnLine {
        QString text;
        QTextCharFormat format;
        bool operator==(const DrawnLine &other) const { return text == other.text && format == other.format; }
    };
    NetLogStore::EntryChange entryChange(int key, const QDateTime &now) const;
    void reportDuplicates(const NetLogStore::EntryOutcome &outcome, const QString &call);
    static QString failedOperation(const NetLogStore::EntryOutcome &outcome, int key, const QString &call);
    QList<DrawnLine> netLines(int marked, int &checkedCount) const;
    void drawLines(const QList<DrawnLine> &lines);
    void markLine(int marked, int count);
    void roleKey(int role);
    // After a key on the net list: net control's F7 or check-in counts as
    // identifying.
    void noteNetKey(int key, const QString &call);

    Widgets w;
    Storage &storage;
    const ThemeState *theme;
    Host host;
    Station *station = nullptr;
    Contact *contact = nullptr;

    int activeId = 1;
    int entryId = 0;
    // The net list as last drawn, so that a key rewrites only the lines it
    // changed; the character count tells whether the view still holds it.
    QList<DrawnLine> drawnNet;
    int drawnNetChars = 0;

    IdReminder reminder;
    bool reminderOn = true;
    bool reminderPaused = false;
    QLabel *idStatus = nullptr;
};
