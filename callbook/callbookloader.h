#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "data/callbookstore.h"

class BulkJob;
class CallBookImport;
class JobRunner;
class QStatusBar;

// The offline call book: CallBook.db of the data directory opened for
// look-ups, and File > Load FCC Call Book, whose import writes a new file on
// a thread of its own behind the bulk job's bar and then takes the old
// one's place.
class CallBookLoader : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QStatusBar *statusBar = nullptr;
    };
    struct Host {
        // False, with the box, while another bulk job runs.
        std::function<bool(const QString &name, const QString &message, const QString &cancelTip,
                           const std::function<void()> &cancel)>
            beginBulkJob;
        std::function<QString()> dataDir;
        std::function<QString()> infoDir;
    };

    CallBookLoader(const Widgets &widgets, BulkJob *bulkJob, JobRunner *runner, Host host, QObject *parent = nullptr);

    // The call book in use, read on the window's thread.
    const CallBookStore &store() const { return book; }
    // The import, once one was asked for.
    CallBookImport *importJob() const { return import; }

    // (Re)opens the call book of the data directory.
    void open();
    // At exit: a running import stops and lets go of its files.
    void stop();

public slots:
    // File > Load FCC Call Book; while an import runs, the offer to stop it.
    void load();
    void cancel();

signals:
    // A line for the operator's error log.
    void errorLine(const QString &text);

private:
    void showProgress(int permille, const QString &stage);
    void finish();
    QString bookPath() const;

    Widgets widgets;
    BulkJob *bulkJob;
    JobRunner *runner;
    Host host;
    CallBookStore book;
    CallBookImport *import = nullptr;
};
