#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>
#include <optional>

#include "data/storage.h"

class Clock;
class PastNetDialog;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QWidget;
class ThemeState;

// A net logged on paper (a power cut, a portable station) entered
// afterwards: Setup's "Log a Past Net..." asks its date and start; from then
// every change of the net list is stored at the time typed in the field
// beside the entry, until "End Past Net" or exit go back to the clock.
class PastNetController : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QMenu *setupMenu = nullptr;
        // The dialog's parent.
        QWidget *window = nullptr;
        // The time field sits at the end of the comment field.
        QLineEdit *qso = nullptr;
        // Enter in the time field goes back to the search.
        QLineEdit *search = nullptr;
        QStatusBar *statusBar = nullptr;
    };

    struct Host {
        // Whether a net is running: the net list holds entries.
        std::function<bool()> netRunning;
        // Empties the net list at the end of a net and draws it again.
        std::function<void()> closeNet;
        // The identification clock is of no use for a net held before.
        std::function<void(bool)> pauseIdReminder;
        // Points the Net Log Select fields at the net, for its reports and records.
        std::function<void(const QDateTime &)> selectNet;
        // A failed write: the box and its log line.
        std::function<void(const Storage::Result &, const QString &)> reportFailure;
    };

    PastNetController(const Widgets &widgets, Storage &storage, Clock *clock, const ThemeState *theme, Host host,
                      QObject *parent = nullptr);
    ~PastNetController() override;

    bool active() const;
    // The time the next change of the net is stored with: the clock's, or in
    // a past net the time in the field. None, after a box, when that time
    // cannot be taken: nothing is to be stored then.
    std::optional<QDateTime> entryTime();
    PastNetDialog *dialog() const { return startDialog; }

public slots:
    // The Setup entry: asks for a past net, or ends the one being entered.
    void toggle();
    // Back to the clock (End Past Net, exit, another data directory).
    void end();
    // At start-up, after Resume Net: a past net the last run stopped in goes
    // on at its own times when its list was resumed.
    void resumeInterrupted();

private:
    void startChosen();
    void begin(const QDateTime &start);
    void enterMode(const QDateTime &start, const QDateTime &last);
    static void keepStart(const QDateTime &start);
    void showMode(bool on);
    void paint();
    void refuse(const QString &text);

    Widgets w;
    Storage &storage;
    Clock *clock;
    const ThemeState *theme;
    Host host;
    QAction *action = nullptr;
    QLabel *status = nullptr;
    QLineEdit *timeField = nullptr;
    PastNetDialog *startDialog = nullptr;
    int qsoWidth = 0;
};
