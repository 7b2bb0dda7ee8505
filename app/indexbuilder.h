#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QStatusBar;
class Storage;

// The indexes a big Contacts.db lacked at its opening (an older program's
// file), built as the bulk job beside the window once it is up: start-up
// does not wait seconds for them, and until they stand the look-ups scan.
class IndexBuilder : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // Where a cancelled build says so.
        QStatusBar *statusBar = nullptr;
    };
    struct Host {
        // Runs `body` as the bulk job `name` (on a thread when `onThread`),
        // then `done` on the window's thread; false while another job runs.
        std::function<bool(const QString &name, const QString &message, const QString &cancelTip, bool onThread,
                           const std::function<void(const std::atomic<bool> &, const std::function<void(int)> &)> &body,
                           const std::function<void()> &done)>
            runFileWork;
        // A bulk job runs: the build is left to the next start, without a box.
        std::function<bool()> jobRunning;
    };

    IndexBuilder(const Widgets &widgets, const Storage &storage, Host host, QObject *parent = nullptr);

    // Builds `creates` (Storage::Opening::unbuiltIndexes) on the Contacts.db
    // open now, as soon as the event loop runs.
    void buildSoon(const QList<QByteArray> &creates);

signals:
    void errorLine(const QString &line);

private:
    void build(const QString &path, const QList<QByteArray> &creates);

    Widgets w;
    const Storage &storage;
    Host host;
};
