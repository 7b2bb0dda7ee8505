#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class BackgroundWork;
class JobRunner;
class QTimer;
class BulkJob;
class SeeLogs;
class Storage;

// A long report filled behind its first screen. The rows are read and the
// lines written on a thread of its own, on a connection of its own, in
// chunks; the window shows the first chunk at once and appends the rest a
// few milliseconds at a time, so it keeps answering. The text it ends with
// is the one the same lines give built in one go. One fill runs at a time,
// as the bulk job of the status bar; others wait their turn, as do fills
// asked for while another job runs.
class ReportFill : public QObject {
    Q_OBJECT

public:
    // Appends the report's lines to `text` from `from`, calling `lineAdded`
    // after each line; gives the count the title names.
    using Body = std::function<qint64(const Storage &from, QString &text, const std::function<void()> &lineAdded)>;

    struct Request {
        SeeLogs *window = nullptr;
        QString name; // the job, as the status bar and a refusal name it
        QString header;
        QString contactsPath;
        // The roster, for a report that reads it.
        std::optional<QStringList> members;
        qint64 expectedLines = 0; // for the bar
        Body body;
        // Sets the window's title once the last line is in.
        std::function<void(qint64 count)> done;
    };

    ReportFill(BulkJob *job, JobRunner *runner, QObject *parent = nullptr);
    // Cancels the fills and waits for their threads.
    ~ReportFill() override;

    // Starts the fill now when no job runs; else it waits. A waiting or
    // running fill of the same window is dropped for the new one.
    void request(const Request &request);
    // Drops any fill of `window`: its text is about to be set whole.
    void drop(SeeLogs *window);
    // Whether the bulk job running is this fill.
    bool filling() const;
    // Another job takes the bar: the running fill stops and waits again.
    void yield();
    // After a job ended: the next waiting fill starts.
    void resume();
    // Ends every fill, waiting for their threads (the exit sequence).
    void stopAll();
    // No fill runs or waits.
    bool idle() const { return !current && waiting.isEmpty(); }

    // Lines in the first chunk (a screen and more) and in each later one.
    static inline int firstLines = 120;
    static inline int chunkLines = 1000;

signals:
    // The first chunk is on screen.
    void firstScreen(SeeLogs *window);
    // A fill ended, its text whole (or cancelled).
    void filled(SeeLogs *window, bool cancelled);

private:
    struct Inbox;
    struct Running;
    void startNext();
    // The worker's part of a fill: the report's lines in chunks into
    // `inbox`, a screen first; `self` is woken for each.
    static void readChunks(Inbox &inbox, const QPointer<ReportFill> &self, const QString &path,
                           const std::optional<QStringList> &members, const Body &body, qint64 expected, int first,
                           int later, const std::atomic<bool> &cancelled, const std::function<void(int)> &progress);
    void wake();
    void takeChunks();
    void finish(bool cancelled);

    BulkJob *job;
    JobRunner *runner;
    QList<Request> waiting;
    std::unique_ptr<Running> current;
    QTimer *appendTimer;
};
