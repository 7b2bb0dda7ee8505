#pragma once

#include "callbook/fccfile.h"
#include "data/storage.h"
#include "jobs/jobrunner.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace CallBook {

inline constexpr char FileName[] = "CallBook.db";
inline constexpr char ZipCentresFile[] = "ZIP_Info.csv";

struct ImportRequest {
    QString source;     // l_amat.zip, or the folder it was unpacked into
    QString target;     // CallBook.db
    QString zipCentres; // the ZIP centre table; a missing one leaves positions empty
};

struct ImportOutcome {
    enum Status { Done, Cancelled, Failed };
    Status status = Failed;
    QString error;     // Failed: why, in words for a box
    QString target;    // the call book the import was for
    QString fresh;     // Done: the new file, to be put in place of the target
    QStringList files; // what was read: the weekly file, then the daily ones
    qint64 licences = 0;
    Fcc::Report report; // lines skipped
    bool withoutPositions = false;
};

// The daily change files (l_am_<day>.zip) that belong on top of `weekly`:
// those beside it (or in the folder it names) that are not older than it,
// oldest first.
QStringList dailyFiles(const QString &weekly);

// permille 0..1000 and what is being done.
using ImportProgress = std::function<void(int permille, const QString &stage)>;

// The whole import on the calling thread: reads the weekly file and the
// daily ones, joins them and writes the call book beside the target. Never
// touches the target itself.
ImportOutcome runImport(const ImportRequest &request, const std::atomic<bool> *cancel = nullptr,
                        const ImportProgress &progress = ImportProgress());

} // namespace CallBook

// An import on a thread of its own: the window keeps answering, reports
// come as signals, and cancel() stops it at the next few thousand lines.
class CallBookImport : public QObject {
    Q_OBJECT

public:
    // The thread comes from `runner`.
    explicit CallBookImport(JobRunner *runner, QObject *parent = nullptr);
    // Cancels a running import and waits for its thread.
    ~CallBookImport() override;

    // False when an import is already running.
    bool start(const CallBook::ImportRequest &request);
    void cancel();
    // Cancels a running import and waits until its thread has let go of
    // its files; finished() still comes.
    void stop();
    bool running() const { return job != 0; }
    // What the last import came to; valid once finished() came.
    const CallBook::ImportOutcome &outcome() const { return result; }

signals:
    void progress(int permille, const QString &stage);
    void finished();

private:
    QPointer<JobRunner> runner;
    JobRunner::Id job = 0;
    // Written by the running import alone; taken over once it has ended.
    std::shared_ptr<CallBook::ImportOutcome> pending;
    CallBook::ImportOutcome result;
};
