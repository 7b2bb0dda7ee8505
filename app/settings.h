#pragma once

#include <QDir>
#include <QObject>
#include <QString>

#include <functional>

#include "app/datalock.h"

class ErrorLog;
class QAction;
class QEvent;
class QSettings;

// The program's folders and the settings of the whole program: the
// information directory, the data directory (chosen, locked against a
// second copy, and the home of the error log), the club's name and the
// status tips.
class Settings : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // Setup's "Status Tips" check.
        QAction *statusTips = nullptr;
    };
    struct Host {
        // True, with the box naming it, while a bulk job runs.
        std::function<bool()> refuseBulkJob;
    };

    Settings(const Widgets &widgets, ErrorLog *log, Host host, QObject *parent = nullptr);

    // Finds the folders, reads the settings and takes the data directory;
    // false when start-up must stop (no data directory, another copy on it).
    bool start();
    // The "Main" group's keys of this object; writeSettings() writes into
    // the group the caller opened.
    void readSettings();
    void writeSettings(QSettings &settings) const;

    QDir dataDir() const { return data; }
    QDir infoDir() const { return info; }
    QDir programDir() const { return program; }
    QString club() const { return clubName; }
    void setClub(const QString &club) { clubName = club; }

    // Whether the operator wants status tips, and whether they show now:
    // a bulk job's bar keeps the status bar to itself while it runs.
    bool statusTipsOn() const { return tips; }
    bool statusTipsShown() const { return tipsShown; }
    void muteStatusTips() { tipsShown = false; }
    void restoreStatusTips() { tipsShown = tips; }
    // Swallows status tips while they are not shown (installed on the application).
    bool eventFilter(QObject *watched, QEvent *event) override;

    // At exit, once everything is written: the next copy may start.
    void releaseDataDirectory() { dataLock.release(); }

public slots:
    // Setup > Set Data Directory.
    void chooseDataDirectory();
    void setStatusTips(bool on);

signals:
    // Another data directory is in use: its net and files are to be opened.
    void dataDirectoryChanged();

private:
    // Takes `path` as the data directory and opens its error log; false
    // when the program must end (no such directory, another copy on it).
    bool useDataDirectory(const QString &path);
    QString askDataDirectory();

    Widgets widgets;
    ErrorLog *log;
    Host host;
    QDir program;
    QDir info;
    QDir data;
    QString clubName;
    bool tips = true;
    bool tipsShown = true;
    // This copy's claim on the data directory, held from start-up to exit.
    DataLock dataLock;
};
