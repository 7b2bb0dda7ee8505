#include "callbook/callbookloader.h"

#include "app/constants.h"
#include "app/prompter.h"
#include "callbook/callbookimport.h"
#include "jobs/bulkjob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStatusBar>

namespace {

const QString NotLoadedTitle = QStringLiteral("FCC Call Book Not Loaded");

} // namespace

CallBookLoader::CallBookLoader(const Widgets &form, BulkJob *job, JobRunner *jobRunner, Host hooks, QObject *parent)
    : QObject(parent), widgets(form), bulkJob(job), runner(jobRunner), host(std::move(hooks))
{
}

QString CallBookLoader::bookPath() const
{
    return QDir(host.dataDir()).filePath(QString::fromLatin1(CallBook::FileName));
}

void CallBookLoader::open()
{
    QString error;
    if (!book.open(bookPath(), &error) && !error.isEmpty())
        emit errorLine("The offline call book " + bookPath() + " cannot be used: " + error);
}

void CallBookLoader::stop()
{
    if (import)
        import->stop();
}

void CallBookLoader::load()
{
    Prompter *prompter = Prompter::instance();
    // The menu is the keyboard's way to the Cancel button.
    if (import && import->running()) {
        if (prompter->message(Prompter::Question, QStringLiteral("FCC Call Book Loading"),
                              QStringLiteral("The FCC Call Book is still loading.\n"
                                             "Stop loading it? The call book in use is kept."),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes)
            cancel();
        return;
    }
    QString name =
        prompter->openFileName(QStringLiteral("Open FCC Amateur Licence File"), host.dataDir(),
                               QStringLiteral("FCC Licence Files (l_amat.zip *.zip HD.dat);;All Files (*.*)"));
    if (name.isEmpty())
        return;
    // A file of the unpacked folder stands for the folder.
    if (name.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive))
        name = QFileInfo(name).absolutePath();

    if (!import) {
        import = new CallBookImport(runner, this);
        connect(import, &CallBookImport::progress, this, &CallBookLoader::showProgress);
        connect(import, &CallBookImport::finished, this, &CallBookLoader::finish);
    }
    if (!host.beginBulkJob(QStringLiteral("Loading the FCC Call Book"), QStringLiteral("Loading FCC Call Book..."),
                           QStringLiteral("Stop loading the FCC Call Book; the call book in use is kept"),
                           [this] { cancel(); }))
        return;

    const QString zipCentres = QDir(host.infoDir()).filePath(QString::fromLatin1(CallBook::ZipCentresFile));
    import->start({name, bookPath(), QFileInfo::exists(zipCentres) ? zipCentres : QString()});
}

void CallBookLoader::showProgress(int permille, const QString &stage)
{
    bulkJob->setProgress(permille, "Loading FCC Call Book: " + stage + "...");
}

void CallBookLoader::cancel()
{
    if (!import || !import->running())
        return;
    import->cancel();
    // The menu's way in ends here too: the button goes grey the same.
    bulkJob->cancel();
    widgets.statusBar->showMessage(QStringLiteral("Cancelling the FCC Call Book load..."));
}

void CallBookLoader::finish()
{
    bulkJob->end();

    const CallBook::ImportOutcome &outcome = import->outcome();
    for (const QString &line : outcome.report.skipped)
        emit errorLine(line);
    if (outcome.report.skippedCount > outcome.report.skipped.size())
        emit errorLine(QStringLiteral("%1 more lines of the FCC files were skipped.")
                           .arg(outcome.report.skippedCount - outcome.report.skipped.size()));

    switch (outcome.status) {
    case CallBook::ImportOutcome::Cancelled:
        widgets.statusBar->showMessage(QStringLiteral("FCC Call Book load cancelled; the call book in use is kept."),
                                       Trel::StatusMessageMs);
        return;
    case CallBook::ImportOutcome::Failed:
        widgets.statusBar->clearMessage();
        Prompter::instance()->message(Prompter::Critical, NotLoadedTitle,
                                      outcome.error + QStringLiteral("\n\nThe call book in use is kept."));
        emit errorLine("FCC Call Book not loaded: " + outcome.error);
        return;
    case CallBook::ImportOutcome::Done:
        break;
    }

    // Readers of the old file let go of it before the new one takes its
    // name; the data directory may have changed in the meantime.
    const QString &target = outcome.target;
    book.close();
    const Storage::Result replaced = CallBookStore::replace(outcome.fresh, target);
    open();
    if (!replaced.ok()) {
        QFile::remove(outcome.fresh);
        widgets.statusBar->clearMessage();
        Prompter::instance()->message(Prompter::Critical, NotLoadedTitle,
                                      replaced.shortError + QStringLiteral("\n\nThe call book in use is kept."));
        emit errorLine("FCC Call Book not loaded: " + replaced.error);
        return;
    }
    if (outcome.withoutPositions)
        emit errorLine("The ZIP code centres (" + QString::fromLatin1(CallBook::ZipCentresFile)
                       + ") were not found: the call book's stations are placed at their state's centre.");
    QStringList names;
    for (const QString &file : outcome.files)
        names.append(QFileInfo(file).fileName());
    const QString text = "FCC Call Book loaded: " + QLocale(QLocale::English).toString(outcome.licences)
                         + " licences from " + names.join(QStringLiteral(", ")) + ".";
    emit errorLine(text);
    widgets.statusBar->showMessage(text, Trel::StatusMessageMs);
}
