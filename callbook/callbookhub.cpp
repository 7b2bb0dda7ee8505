#include "app/prompter.h"
#include "app/trelvin.h"
#include "callbook/callbookimport.h"
#include "jobs/bulkjob.h"
#include "ui_trelvin.h"

#include <QFileInfo>
#include <QLocale>
#include <QStatusBar>

// The hub's side of the offline call book: the import's file chooser,
// status-bar progress and outcome, and opening CallBook.db for look-ups.

namespace {

const QString NotLoadedTitle = QStringLiteral("FCC Call Book Not Loaded");

QString callBookPath(const QDir &dataDir)
{
    return dataDir.filePath(QString::fromLatin1(CallBook::FileName));
}

} // namespace

void Trelvin::openCallBook()
{
    QString error;
    if (!callBook.open(callBookPath(dataDir), &error) && !error.isEmpty())
        writeError("The offline call book " + callBookPath(dataDir) + " cannot be used: " + error);
}

void Trelvin::on_actionLoadFccCallBook_triggered()
{
    Prompter *prompter = Prompter::instance();
    // The menu is the keyboard's way to the Cancel button.
    if (callBookImport && callBookImport->running()) {
        if (prompter->message(Prompter::Question, QStringLiteral("FCC Call Book Loading"),
                              QStringLiteral("The FCC Call Book is still loading.\n"
                                             "Stop loading it? The call book in use is kept."),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes)
            cancelCallBookImport();
        return;
    }
    QString name = prompter->openFileName(QStringLiteral("Open FCC Amateur Licence File"), dataDir.path(),
                                          QStringLiteral("FCC Licence Files (l_amat.zip *.zip HD.dat);;All Files (*.*)"));
    if (name.isEmpty())
        return;
    // A file of the unpacked folder stands for the folder.
    if (name.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive))
        name = QFileInfo(name).absolutePath();

    if (!callBookImport) {
        callBookImport = new CallBookImport(jobRunner, this);
        connect(callBookImport, &CallBookImport::progress, this, &Trelvin::showCallBookProgress);
        connect(callBookImport, &CallBookImport::finished, this, &Trelvin::finishCallBookImport);
    }
    if (!beginBulkJob(QStringLiteral("Loading the FCC Call Book"), QStringLiteral("Loading FCC Call Book..."),
                      QStringLiteral("Stop loading the FCC Call Book; the call book in use is kept"),
                      [this] { cancelCallBookImport(); }))
        return;

    const QString zipCentres = infoDir.filePath(QString::fromLatin1(CallBook::ZipCentresFile));
    callBookImport->start({name, callBookPath(dataDir), QFileInfo::exists(zipCentres) ? zipCentres : QString()});
}

void Trelvin::showCallBookProgress(int permille, const QString &stage)
{
    bulkJob->setProgress(permille, "Loading FCC Call Book: " + stage + "...");
}

void Trelvin::cancelCallBookImport()
{
    if (!callBookImport || !callBookImport->running())
        return;
    callBookImport->cancel();
    // The menu's way in ends here too: the button goes grey the same.
    bulkJob->cancel();
    ui->statusbar->showMessage(QStringLiteral("Cancelling the FCC Call Book load..."));
}

void Trelvin::finishCallBookImport()
{
    bulkJob->end();

    const CallBook::ImportOutcome &outcome = callBookImport->outcome();
    for (const QString &line : outcome.report.skipped)
        writeError(line);
    if (outcome.report.skippedCount > outcome.report.skipped.size())
        writeError(QStringLiteral("%1 more lines of the FCC files were skipped.")
                       .arg(outcome.report.skippedCount - outcome.report.skipped.size()));

    switch (outcome.status) {
    case CallBook::ImportOutcome::Cancelled:
        ui->statusbar->showMessage(QStringLiteral("FCC Call Book load cancelled; the call book in use is kept."),
                                   StatusMessageMs);
        return;
    case CallBook::ImportOutcome::Failed:
        ui->statusbar->clearMessage();
        Prompter::instance()->message(Prompter::Critical, NotLoadedTitle,
                                      outcome.error + QStringLiteral("\n\nThe call book in use is kept."));
        writeError("FCC Call Book not loaded: " + outcome.error);
        return;
    case CallBook::ImportOutcome::Done:
        break;
    }

    // Readers of the old file let go of it before the new one takes its
    // name; the data directory may have changed in the meantime.
    const QString &target = outcome.target;
    callBook.close();
    const Storage::Result replaced = CallBookStore::replace(outcome.fresh, target);
    openCallBook();
    if (!replaced.ok()) {
        QFile::remove(outcome.fresh);
        ui->statusbar->clearMessage();
        Prompter::instance()->message(Prompter::Critical, NotLoadedTitle,
                                      replaced.shortError + QStringLiteral("\n\nThe call book in use is kept."));
        writeError("FCC Call Book not loaded: " + replaced.error);
        return;
    }
    if (outcome.withoutPositions)
        writeError("The ZIP code centres (" + QString::fromLatin1(CallBook::ZipCentresFile)
                   + ") were not found: the call book's stations are placed at their state's centre.");
    QStringList names;
    for (const QString &file : outcome.files)
        names.append(QFileInfo(file).fileName());
    const QString text = "FCC Call Book loaded: " + QLocale(QLocale::English).toString(outcome.licences)
                         + " licences from " + names.join(QStringLiteral(", ")) + ".";
    writeError(text);
    ui->statusbar->showMessage(text, StatusMessageMs);
}
