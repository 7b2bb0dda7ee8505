#pragma once

#include <QDateTime>
#include <QObject>
#include <QPalette>
#include <QString>

#include <functional>

class BulkJob;
class JobRunner;
class QLineEdit;
class QSpinBox;
class ReportFill;
class SeeLogs;
class Storage;
class ThemeState;

// The report windows: the net log of a date (the Net Log Select fields),
// the whole net log, the contacts, the club roster and a station's QSO
// history. It owns the five windows and the filler that fills a long report
// behind its first screen; the rest of the program tells it what changed.
class ReportsController : public QObject {
    Q_OBJECT

public:
    // The main window's fields it reads and marks.
    struct Widgets {
        // Keeps the keyboard while a report comes up.
        QLineEdit *search = nullptr;
        // The station whose QSO history the menu shows.
        QLineEdit *call = nullptr;
        QSpinBox *year = nullptr;
        QSpinBox *month = nullptr;
        QSpinBox *day = nullptr;
        QLineEdit *beginTime = nullptr;
        QLineEdit *endTime = nullptr;
    };

    struct Host {
        // The club whose roster the roster report names.
        std::function<QString()> club;
    };

    ReportsController(const Widgets &widgets, Storage &storage, const ThemeState *theme, BulkJob *bulkJob,
                      JobRunner *runner, Host host, QObject *parent = nullptr);
    ~ReportsController() override;

    // Up to this many lines a report is shown whole at once; a longer one is
    // filled behind its first screen.
    static inline qint64 inlineReportRows = 5'000;

    // The windows, for their icon, their palette and the tests.
    SeeLogs *dateLogWindow() const { return dateLog; }
    SeeLogs *wholeLogWindow() const { return wholeLog; }
    SeeLogs *contactsWindow() const { return contacts; }
    SeeLogs *rosterWindow() const { return roster; }
    SeeLogs *qsoWindow() const { return qso; }
    QList<QWidget *> windows() const;

    // The date of the last net-log selection as its title shows it.
    QString selectedDateText() const { return logDateText; }

    // The Net Log Select fields: the day of `now`, from now to its end.
    void selectRestOfDay(const QDateTime &now);
    // The report of the Net Log Select fields; a refused time is marked in
    // its field and leaves the report as it was.
    void showSelectedNetLog();
    // The net log of one day between two times ("hh:mm:ss").
    void showNetLogOf(int year, int month, int day, const QString &begin, const QString &end);
    void showWholeLog();
    void showContacts();
    void showRoster();
    // The QSO history of `call`; type 0 empties it.
    void showQsoHistory(const QString &call, int type);

    // Start-up: the windows that were open at the last exit open again.
    void reopenWindows();
    // Exit: where each window is and whether it is open.
    void writeWindowSettings();
    void setPalette(const QPalette &palette);

    // A bulk job starts: a report being filled gives way and is filled
    // again after it.
    void giveWay();
    // The exit sequence: every fill ends, its thread joined.
    void stopFills();

public slots:
    // The menu's reports.
    void openNetLogSelect();
    void openWholeLog();
    void openContacts();
    void openRoster();
    void openQsoHistory();
    // The date-log window as it is, titled for the check-ins' raw data.
    void openCheckInData();

    // What changed elsewhere: the open reports that show it are made again.
    void netLogChanged();
    void contactsChanged();
    void rosterChanged();
    // The entry shows `call` now (`type` as for showQsoHistory()).
    void entryShown(const QString &call, int type);

signals:
    // Escape in a report window: back to the main window.
    void escaped();

private:
    Widgets w;
    Storage &storage;
    const ThemeState *theme;
    Host host;
    ReportFill *fill = nullptr;

    SeeLogs *dateLog = nullptr;
    SeeLogs *wholeLog = nullptr;
    SeeLogs *contacts = nullptr;
    SeeLogs *roster = nullptr;
    SeeLogs *qso = nullptr;

    // The net-log selection the date-log report was made for.
    int logMonth = 0;
    int logDay = 0;
    int logYear = 0;
    QString logDateText;
    QString logBeginTime;
    QString logEndTime;
    // The selection's times as the fields hold them, checked; false leaves
    // the field marked.
    bool takeSelectedTimes();
    void showNetLogOfSelection();
};
