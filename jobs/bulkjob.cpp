#include "jobs/bulkjob.h"

#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

BulkJob::BulkJob(QStatusBar *statusBar, QObject *parent)
    : QObject(parent),
      status(statusBar),
      progress(new QProgressBar()),
      button(new QPushButton(QStringLiteral("Cancel")))
{
    progress->setMaximumWidth(200);
    progress->hide();
    // The keyboard stays with the entry; the menu action of a running job,
    // or a click, reaches Cancel.
    button->setFocusPolicy(Qt::NoFocus);
    button->hide();
    connect(button, &QPushButton::clicked, this, &BulkJob::cancel);
}

BulkJob::~BulkJob()
{
    // The status bar owns them once they were shown; otherwise they are ours.
    if (progress && !progress->parent())
        delete progress;
    if (button && !button->parent())
        delete button;
}

bool BulkJob::begin(const QString &name, const QString &message, const QString &cancelTip,
                    const std::function<void()> &cancel, int maximum)
{
    if (running())
        return false;
    current = name;
    onCancel = cancel;
    cancelAsked = false;
    progress->setRange(0, maximum);
    progress->setValue(0);
    button->setStatusTip(cancelTip);
    button->setEnabled(true);
    status->addPermanentWidget(progress);
    status->addPermanentWidget(button);
    progress->show();
    button->show();
    showMessage(message);
    return true;
}

void BulkJob::setMaximum(int maximum)
{
    progress->setMaximum(maximum);
}

void BulkJob::setProgress(int value)
{
    if (running())
        progress->setValue(value);
}

void BulkJob::setProgress(int value, const QString &message)
{
    if (!running())
        return;
    progress->setValue(value);
    if (!cancelAsked)
        showMessage(message);
}

void BulkJob::cancel()
{
    if (!running() || cancelAsked)
        return;
    cancelAsked = true;
    button->setEnabled(false);
    showMessage("Cancelling: " + current + "...");
    // A job may end inside its cancel, which clears onCancel.
    const std::function<void()> stop = onCancel;
    if (stop)
        stop();
}

void BulkJob::end()
{
    if (!running() || !progress)
        return;
    status->removeWidget(progress);
    status->removeWidget(button);
    // removeWidget() leaves a widget that was never laid out shown.
    progress->hide();
    button->hide();
    // The job's own words go with it; what the caller says next stays.
    if (status->currentMessage() == shown)
        status->clearMessage();
    shown.clear();
    current.clear();
    onCancel = nullptr;
    cancelAsked = false;
    emit ended();
}

void BulkJob::showMessage(const QString &message)
{
    shown = message;
    status->showMessage(message);
}
