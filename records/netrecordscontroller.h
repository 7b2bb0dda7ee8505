#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "records/netrecord.h"

class NetDetails;
class QLineEdit;
class QSettings;
class QSpinBox;
class QStatusBar;
class QWidget;
class Storage;

// The records of a net beyond its log: the net of the Net Log Select
// fields as an ADIF file and as an ICS-309 form, and the net's band, mode
// and frequency (the Net Details dialog) that go into them.
class NetRecordsController : public QObject {
    Q_OBJECT

public:
    // The Net Log Select fields name the net.
    struct Widgets {
        QSpinBox *year = nullptr;
        QSpinBox *month = nullptr;
        QSpinBox *day = nullptr;
        QLineEdit *beginTime = nullptr;
        QLineEdit *endTime = nullptr;
        QStatusBar *statusBar = nullptr;
        // The parent of the Net Details dialog, whose colours it takes.
        QWidget *window = nullptr;
    };

    struct Host {
        std::function<QString()> dataDir;
        std::function<QString()> club;
        // The time the records are stamped with.
        std::function<QDateTime()> clockNow;
    };

    NetRecordsController(const Widgets &widgets, Storage &storage, Host host, QObject *parent = nullptr);

    // Band, mode and frequency from the settings' "Main" group; writeSettings()
    // writes into the group the caller opened.
    void readSettings();
    void writeSettings(QSettings &settings) const;

    QString band() const { return netBand; }
    QString mode() const { return netMode; }
    QString frequency() const { return netFrequency; }

public slots:
    void saveAdif();
    void saveIcs309();
    // Opens the Net Details dialog; its OK keeps what it holds.
    void editNetDetails();

signals:
    void errorLine(const QString &line);

private:
    // The net of the selection, or nothing after a box saying why no `what`
    // is written (no check-ins, a bad time, a failed read).
    std::optional<NetRecord> selectedNet(const QString &what);
    QString proposedNetFile(const QString &suffix) const;
    void reportUnwritable(const QString &fileName, const QString &reason);

    Widgets w;
    Storage &storage;
    Host host;
    NetDetails *detailsDialog = nullptr;
    QString netBand, netMode, netFrequency;
};
