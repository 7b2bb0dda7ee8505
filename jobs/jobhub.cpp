#include "app/prompter.h"
#include "app/settings.h"
#include "app/trelvin.h"
#include "jobs/background.h"
#include "jobs/bulkjob.h"
#include "reports/reportscontroller.h"
#include "ui_trelvin.h"

#include <QStatusBar>

// The hub's side of bulk jobs: one at a time, behind the status bar's
// progress bar and Cancel button.

bool Trelvin::refuseBulkJob()
{
    // A report being filled gives way, and is filled again after the job.
    reports->giveWay();
    if (!bulkJob->running())
        return false;
    Prompter::instance()->message(Prompter::Information, QStringLiteral("Another Job Is Running"),
                                  bulkJob->name()
                                      + QStringLiteral(" is still running.\nWait until it has ended, or stop it "
                                                       "with Cancel in the status bar."));
    return true;
}

bool Trelvin::beginBulkJob(const QString &name, const QString &message, const QString &cancelTip,
                           const std::function<void()> &cancel, int maximum)
{
    if (refuseBulkJob())
        return false;
    // The job's message stays in the status bar over the menus' tips.
    appSettings->muteStatusTips();
    return bulkJob->begin(name, message, cancelTip, cancel, maximum);
}

bool Trelvin::runFileWork(const QString &name, const QString &message, const QString &cancelTip, bool onThread,
                          const std::function<void(const std::atomic<bool> &, const std::function<void(int)> &)> &body,
                          const std::function<void()> &done)
{
    if (!beginBulkJob(name, message, cancelTip, [this] { fileWork->cancel(); }))
        return false;
    connect(
        fileWork, &BackgroundWork::finished, this,
        [this, done] {
            bulkJob->end();
            ui->statusbar->clearMessage();
            // Work that ends after the exit sequence finds the databases closed.
            if (!exitDone)
                done();
        },
        Qt::SingleShotConnection);
    fileWork->start(body, onThread, name);
    return true;
}
