#include "app/constants.h"
#include "app/indexbuilder.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "files/filescontroller.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>

void Trelvin::setupDbFile()
{
    const QString path = dataDir().path() + "/" + Trel::ContactsDb;
    Prompter *prompter = Prompter::instance();

    if (!QFileInfo::exists(path)) {
        prompter->message(Prompter::Information, QStringLiteral("New Contacts Database"),
                          "Contacts database file 'Contacts.db' was not found.\n"
                          "A new database file 'Contacts.db' will be created\nin the '"
                              + dataDir().path() + "' subdirectory.");
        writeError("Contacts database file '" + path + "' was not found.");
    }

    const Storage::Opening opening = storage.openContacts(path);
    if (!opening.warning.isEmpty())
        writeError(opening.warning);
    for (const QString &table : opening.dropped)
        writeError("Contacts database '" + path + "': table '" + table
                   + "', left by a load that did not end, was dropped.");
    if (opening.ok()) {
        indexBuilder->buildSoon(opening.unbuiltIndexes);
        if (opening.leftOverBeside)
            files->dropReplacedTables();
        if (!opening.netProblem.isEmpty()) {
            prompter->message(Prompter::Warning, QStringLiteral("Net List Not Kept"),
                              "The net list tables in '" + path
                                  + "' come from a newer version of the program or are damaged:\n" + opening.netProblem
                                  + "\n\nThey are left as they are, and no interrupted net can be resumed. "
                                    "Tonight's net list is kept for this run only.");
            writeError("Net list tables of '" + path + "' cannot be used: " + opening.netProblem);
        }
        return;
    }

    QString text = QStringLiteral("Unable to establish a File database connection.\n"
                                  "This program needs SQLite support.");
    if (!opening.missing.isEmpty())
        text += QStringLiteral("\n\n") + opening.missing.join(QLatin1Char('\n'));
    prompter->message(Prompter::Critical, QStringLiteral("Cannot open Trelvin database"), text, QMessageBox::Cancel);
    writeError("Unable to establish a File database connection. " + path + ": "
               + (opening.failure.isEmpty() ? opening.missing.join(QLatin1Char(' ')) : opening.failure));
}

void Trelvin::setupDbMemory()
{
    if (!storage.openMemory()) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Cannot open database"),
                                      QStringLiteral("Unable to establish a Memory database connection.\n"
                                                     "This program needs SQLite support."),
                                      QMessageBox::Cancel);
        writeError(QStringLiteral("Unable to establish a Memory database connection."));
        return;
    }
    stored(storage.createMemoryTables(), QStringLiteral("Creating the club roster and the search's tables"));

    QFile file(infoDir().path() + "/" + Trel::StateCentres);
    if (!file.open(QIODevice::ReadOnly)) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Cannot open State_Info.csv file"),
                                      "Unable to open State_Info.csv file.\nThis file needs to be in your '"
                                          + infoDir().path() + "' directory.");
        writeError("Unable to open '" + infoDir().path() + "/State_Info.csv' file.");
        return;
    }

    QList<Storage::StateCentre> centres;
    file.readLine();
    QList<QString> fields;
    while (!file.atEnd()) {
        processLine(file, fields);
        if (fields.size() >= 3)
            centres.append({fields.at(0), fields.at(1), fields.at(2)});
    }
    stored(storage.addStateCentres(centres), "Loading the state centres of " + file.fileName());
}

void Trelvin::processLine(QFile &file, QList<QString> &list)
{
    list = splitCsvLine(QString::fromUtf8(file.readLine()));
}

bool Trelvin::stored(const Storage::Result &result, const QString &operation)
{
    switch (result.failure) {
    case Storage::Result::None:
        return true;
    case Storage::Result::ReadFailed:
        // What the change rested on could not be read: nothing was stored.
        reportReadFailure(operation, result);
        reportWriteFailure(operation, QString());
        break;
    case Storage::Result::WriteFailed:
        reportWriteFailure(operation, result.error);
        break;
    }
    return false;
}

void Trelvin::reportWriteFailure(const QString &operation, const QString &reason)
{
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                  "The contacts database could not store this change:\n" + operation
                                      + "\n\nThe check-in data shown may be incomplete.");
    if (!reason.isEmpty())
        writeError("Database write failed (" + operation + "): " + reason);
}

void Trelvin::reportReadFailure(const QString &operation, const Storage::Result &failure)
{
    statusBar()->showMessage(operation + ": the contacts database could not be read (" + failure.shortError + ").",
                             Trel::StatusMessageMs);
    writeError("Database read failed (" + operation + "): " + failure.error);
}
