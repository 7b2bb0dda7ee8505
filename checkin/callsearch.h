#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "data/callbookstore.h"
#include "data/storage.h"

class CheckInDesk;
class Contact;
class QLabel;
class QTimer;
class QLineEdit;
class QTextEdit;
class ThemeState;

// Call Search: the candidates of what is typed, the arrow and page keys
// over them or over the net list, and the station shown in the entry and
// the Contact dialog with its bearing and distance. The entry itself is the
// check-in desk's: the search stores and marks through its public face.
class CallSearch : public QObject {
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
        QLineEdit *attend = nullptr;
        QLineEdit *last = nullptr;
        QLineEdit *bear = nullptr;
        QLineEdit *revBear = nullptr;
        QLineEdit *dist = nullptr;
        QLineEdit *delCon = nullptr;
        QLabel *candidateLabel = nullptr;
        QTextEdit *candidates = nullptr;
        Contact *contact = nullptr;
    };

    struct Host {
        // A failed read: status bar and log line, never "not found".
        std::function<void(const QString &, const Storage::Result &)> reportReadFailure;
        // The offline call book's record of a call.
        std::function<std::optional<CallBookRecord>(const QString &, Storage::Result *)> callBookRecord;
        // The station's offset from UTC, for a contact's time difference.
        std::function<int()> stationUtcOffset;
        // A network look-up refines a call book record once the search stays on it.
        std::function<void(const QString &)> refineSoon;
        std::function<void()> cancelRefinement;
        // The date of the net being entered (a past net's own): a station's
        // check-in of that date is not its last one.
        std::function<QDate()> netDate;
    };

    CallSearch(const Widgets &widgets, Storage &storage, CheckInDesk *desk, const ThemeState *theme, Host host,
               QObject *parent = nullptr);

    // What the last search found: how many candidates, the highlighted one,
    // and the call of the only one.
    int candidateCount() const { return candidatesFound; }
    int candidateCursor() const { return cursorId; }
    QString currentCall() const { return onlyCall; }

    // While the index of calls is being read (at start-up, after a load), a
    // keystroke scans the table for so long at most and shows the first
    // candidates found; the whole answer follows once the index is in.
    static inline int partialScanMs = 8;

    // Contact display of `call`; `type` 0 clears the entry for what the search holds.
    void showContact(const QString &call, int type);

public slots:
    void searchEdited(const QString &text);
    void searchReturn();
    // Esc: stores what was typed and starts a new search.
    void selectSearch();
    void topContact();
    void previousContact();
    void nextContact();
    void endContact();
    // Shows net entry `id` in the entry and marks it in the list.
    void selectContact(int id);
    // The state typed or shown: bearing and distance to it.
    void stateChanged(const QString &state);
    void showCandidates();

signals:
    // A contact was shown (for its QSO history).
    void contactShown(const QString &call, int type);

private:
    // One arrow or page key: the net list while there is at most one
    // candidate, the candidates otherwise.
    void step(Storage::Seek seek);
    // Shows the call book's record of `call`; false when it holds none.
    bool showCallBookRecord(const QString &call);
    void showStoredContact(const QString &call);
    void showMembership(const QString &call);
    void clearContact();
    // The search of a partial answer again, once the index of calls is in.
    void completeSearch();

    Widgets w;
    Storage &storage;
    CheckInDesk *desk;
    const ThemeState *theme;
    Host host;

    int candidatesFound = 0;
    int cursorId = 0;
    QString onlyCall;
    bool partialAnswer = false;
    QString partialText;
    QTimer *whole = nullptr;
};
