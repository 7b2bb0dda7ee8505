#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include <QProgressBar>
#include <QPushButton>

class QStatusBar;

// The one long job the window runs at a time: a file load or save, the
// roster's QRZ run, the call book import, a long report. It owns the status
// bar's progress bar and Cancel button, so every job shows and ends the same
// way, and a second job cannot start while one runs.
class BulkJob : public QObject {
    Q_OBJECT

public:
    explicit BulkJob(QStatusBar *statusBar, QObject *parent = nullptr);
    ~BulkJob() override;

    bool running() const { return !current.isEmpty(); }
    // What runs, as the refusal of a second job names it.
    const QString &name() const { return current; }

    // Shows the bar at 0 of `maximum`, `message` in the status bar and the
    // Cancel button, which calls `cancel`. False, with nothing shown, while
    // another job runs.
    bool begin(const QString &name, const QString &message, const QString &cancelTip,
               const std::function<void()> &cancel, int maximum = 1000);
    void setMaximum(int maximum);
    void setProgress(int value);
    void setProgress(int value, const QString &message);
    // The Cancel button: asks the job to stop; it ends with end().
    void cancel();
    bool cancelling() const { return cancelAsked; }
    // Takes the bar and the button away; the job's own message stays until
    // the caller replaces it.
    void end();

    QProgressBar *bar() const { return progress; }
    QPushButton *cancelButton() const { return button; }

signals:
    void ended();

private:
    void showMessage(const QString &message);

    QStatusBar *status;
    // Owned by the status bar once shown, which may go first.
    QPointer<QProgressBar> progress;
    QPointer<QPushButton> button;
    QString current;
    QString shown; // the message this job put in the status bar last
    std::function<void()> onCancel;
    bool cancelAsked = false;
};
