#pragma once

#include "attendance/attendancefigures.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class AttendanceWindow;
class BackgroundWork;
class JobRunner;
class QTimer;
class Storage;

// The attendance window: check-ins per net and new stations per month as
// charts, the numbers behind them, the regulars and the absent members, over
// a chosen range, and their CSV file. The log is read on a thread of its own
// with a connection of its own; the window keeps answering meanwhile and
// shows the figures when they come.
class AttendanceController : public QObject {
    Q_OBJECT

public:
    struct Host {
        // Today, by the window's clock.
        std::function<QDate()> today;
        std::function<QString()> dataDir;
        std::function<QString()> club;
    };

    AttendanceController(Storage &storage, JobRunner *runner, Host host, QObject *parent = nullptr);
    ~AttendanceController() override;

    AttendanceWindow *window() const { return view; }
    // What the window shows, for the tests.
    const Attendance::Figures &shownFigures() const { return shown; }
    bool reading() const;

    // Start-up: the window opens again when it was open at the last exit.
    void reopenWindow();
    void writeWindowSettings();
    // The exit sequence: the read ends, its thread joined.
    void stop();

    // The range selector's months (0: all).
    static int monthsOfRange(int index);

public slots:
    // Help > Show Attendance.
    void open();
    // The log or the roster changed: an open window reads them again.
    void logChanged();
    void saveCsv();

signals:
    void errorLine(const QString &line);
    void escaped();
    // The figures of a read or of a new range are on screen.
    void figuresShown();

private:
    struct Reading;
    void read();
    void readDone();
    void rangeChosen();
    void show(const Attendance::Figures &figures);
    void showTables(const Attendance::Figures &figures);
    void showCharts(const Attendance::Figures &figures);
    void wearTheme();

    Storage &storage;
    Host host;
    AttendanceWindow *view = nullptr;
    BackgroundWork *work = nullptr;
    std::shared_ptr<Reading> current;
    // The log as last read, grouped into nets: a new range needs no read.
    std::shared_ptr<const Attendance::Log> log;
    QList<Attendance::Member> roster;
    Attendance::Figures shown;
    bool stale = true;
    bool readAgain = false;
    bool openAtExit = false;
    QTimer *changeTimer = nullptr;
};
