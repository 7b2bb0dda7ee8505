#include "app/constants.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/schema.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>

namespace {

// Names what the three stored tables lack, one line per table; the text is
// SQLite's when the file cannot even be read.
QString missingColumns(const QSqlDatabase &db, QStringList &missing)
{
    for (const Schema::TableColumns &expected : Schema::StoredColumns) {
        QSqlQuery info(db);
        if (!info.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(expected.table))))
            return info.lastError().text();
        QStringList present;
        while (info.next())
            present.append(info.value(1).toString().toLower());
        // A table that is not there yet is created; only a table made
        // without some columns would fail every statement that names them.
        if (present.isEmpty())
            continue;
        QStringList lacking;
        for (const QString &column : QString::fromLatin1(expected.columns).split(QLatin1Char(' '))) {
            if (!present.contains(column))
                lacking.append(column);
        }
        if (!lacking.isEmpty())
            missing.append(QStringLiteral("Table '%1' lacks the columns: %2.")
                               .arg(QLatin1String(expected.table), lacking.join(QStringLiteral(", "))));
    }
    return QString();
}

// Journal and sync of Contacts.db. `warning` says why the file could not be
// put in WAL mode, which is not fatal.
QString prepareContactsFile(const QSqlDatabase &db, QString &warning)
{
    QSqlQuery query(db);
    // In WAL mode a search or a contact display reads on while another
    // program holds the write lock, and a commit costs one sync; a full
    // sync keeps every commit whole on a power cut.
    QString mode;
    if (query.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && query.next())
        mode = query.value(0).toString();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        // Another program holding the file, or a file system without shared
        // memory: the rollback journal still works, only reads may wait.
        warning = "Contacts database '" + db.databaseName() + "' could not be switched to WAL mode ("
                  + (mode.isEmpty() ? query.lastError().text() : "journal mode " + mode)
                  + "); searches may wait while another program writes to it.";
    }
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return query.lastError().text();
    // The log grows to the size of a whole contacts load; without a limit
    // it would keep that size on disk until the program ends.
    if (!query.exec(QStringLiteral("PRAGMA journal_size_limit = %1").arg(Schema::WalSizeLimit)))
        return query.lastError().text();
    return QString();
}

} // namespace

void Trelvin::setupDbFile()
{
    const QString path = dataDir.path() + "/" + Trel::ContactsDb;
    Prompter *prompter = Prompter::instance();

    if (!QFileInfo::exists(path)) {
        prompter->message(Prompter::Information, QStringLiteral("New Contacts Database"),
                          "Contacts database file 'Contacts.db' was not found.\n"
                          "A new database file 'Contacts.db' will be created\nin the '"
                              + dataDir.path() + "' subdirectory.");
        errorMessage = "Contacts database file '" + path + "' was not found.";
        logError();
    }

    // Setting a new name on an open connection only takes effect after a reopen.
    if (fileDb.isOpen())
        fileDb.close();
    fileDb.setDatabaseName(path);

    QString failure;
    QStringList missing;
    if (fileDb.open()) {
        // An existing file that is not a database opens fine and only fails
        // at its first read; without this check the program would go on
        // storing nothing.
        QSqlQuery query(fileDb);
        // Some SQLite builds zero every freed page, which makes replacing a
        // table of a million contacts write it all twice; freed pages are
        // only zeroed where that costs no extra writes.
        query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
        // Checked before anything is written: a file made elsewhere must stay
        // as it was when it cannot serve.
        failure = missingColumns(fileDb, missing);
        QString warning;
        if (failure.isEmpty() && missing.isEmpty())
            failure = prepareContactsFile(fileDb, warning);
        if (!warning.isEmpty()) {
            errorMessage = warning;
            logError();
        }
        // The look-ups by call run on every station shown and every check-in;
        // the indexes keep them fast on a database of many years. One
        // transaction: one sync instead of one per statement.
        if (failure.isEmpty() && missing.isEmpty() && !fileDb.transaction())
            failure = fileDb.lastError().text();
        for (const char *statement : {Schema::CreateContact, Schema::CreateLog, Schema::CreateStation,
                                      Schema::IndexContactCall, Schema::IndexLogCall, Schema::IndexLogDate}) {
            if (!failure.isEmpty() || !missing.isEmpty())
                break;
            if (!query.exec(QString::fromLatin1(statement)))
                failure = query.lastError().text();
        }
        if (failure.isEmpty() && missing.isEmpty() && !fileDb.commit())
            failure = fileDb.lastError().text();
        // Start-up waited as long as Qt's default for a lock; from here on a
        // statement fails fast instead of freezing the window.
        if (failure.isEmpty() && missing.isEmpty()
            && !query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Schema::BusyTimeoutMs)))
            failure = query.lastError().text();
        if (!failure.isEmpty() || !missing.isEmpty())
            fileDb.close();
    } else {
        failure = fileDb.lastError().text();
    }

    attachContacts();

    if (!failure.isEmpty() || !missing.isEmpty()) {
        QString text = QStringLiteral("Unable to establish a File database connection.\n"
                                      "This program needs SQLite support.");
        if (!missing.isEmpty())
            text += QStringLiteral("\n\n") + missing.join(QLatin1Char('\n'));
        prompter->message(Prompter::Critical, QStringLiteral("Cannot open Trelvin database"), text,
                          QMessageBox::Cancel);
        errorMessage = "Unable to establish a File database connection. " + path + ": "
                       + (failure.isEmpty() ? missing.join(QLatin1Char(' ')) : failure);
        logError();
    }
}

void Trelvin::attachContacts()
{
    if (contactsAttached)
        contactsAttached = !QSqlQuery(memoryDb).exec(QStringLiteral("DETACH DATABASE contacts"));
    if (contactsAttached || !fileDb.isOpen() || !memoryDb.isOpen())
        return;
    QSqlQuery attach(memoryDb);
    attach.prepare(QStringLiteral("ATTACH DATABASE ? AS contacts"));
    attach.addBindValue(fileDb.databaseName());
    contactsAttached = attach.exec();
}

void Trelvin::setupDbMemory()
{
    memoryDb.setDatabaseName(QStringLiteral(":memory:"));
    if (!memoryDb.open()) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Cannot open database"),
                                      QStringLiteral("Unable to establish a Memory database connection.\n"
                                                     "This program needs SQLite support."),
                                      QMessageBox::Cancel);
        errorMessage = QStringLiteral("Unable to establish a Memory database connection.");
        logError();
        return;
    }

    QSqlQuery query(memoryDb);
    query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
    // Contacts.db is attached to this connection too: the search reads it
    // here and must not wait long on another program's lock.
    query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(Schema::BusyTimeoutMs));
    for (const char *statement : {Schema::CreateNet, Schema::CreateMbr, Schema::CreateCandidate, Schema::CreateLatlon})
        query.exec(QString::fromLatin1(statement));

    QFile file(infoDir.path() + "/" + Trel::StateCentres);
    if (!file.open(QIODevice::ReadOnly)) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Cannot open State_Info.csv file"),
                                      "Unable to open State_Info.csv fileThis file needs to be in your '"
                                          + infoDir.path() + "' directory.");
        errorMessage = "Unable to open '" + infoDir.path() + "/State_Info.csv' file.";
        logError();
        return;
    }

    memoryDb.transaction();
    query.prepare(QStringLiteral("INSERT INTO latlon (id, st, lat, lon) VALUES (NULL, :st, :lat, :lon)"));
    file.readLine();
    QList<QString> fields;
    while (!file.atEnd()) {
        processLine(file, fields);
        if (fields.size() < 3)
            continue;
        query.bindValue(QStringLiteral(":st"), fields.at(0));
        query.bindValue(QStringLiteral(":lat"), fields.at(1).toFloat());
        query.bindValue(QStringLiteral(":lon"), fields.at(2).toFloat());
        query.exec();
    }
    memoryDb.commit();
}

void Trelvin::processLine(QFile &file, QList<QString> &list)
{
    list = splitCsvLine(QString::fromUtf8(file.readLine()));
}

bool Trelvin::writeContact(bool known, const QStringList &values, const QString &operation)
{
    QSqlQuery write(fileDb);
    write.prepare(QString::fromLatin1(known ? Schema::UpdateContactByCall : Schema::InsertContact));
    for (const QString &value : values)
        write.addBindValue(value);
    if (known)
        write.addBindValue(values.value(0));
    return execWrite(write, operation);
}

bool Trelvin::execWrite(QSqlQuery &query, const QString &operation)
{
    if (query.exec())
        return true;
    reportWriteFailure(operation, query.lastError().text());
    return false;
}

void Trelvin::reportWriteFailure(const QString &operation, const QString &reason)
{
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                  "The contacts database could not store this change:\n" + operation
                                      + "\n\nThe check-in data shown may be incomplete.");
    if (reason.isEmpty())
        return;
    errorMessage = "Database write failed (" + operation + "): " + reason;
    logError();
}

void Trelvin::reportReadFailure(const QString &operation, const QSqlError &error)
{
    const QString reason = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    statusBar()->showMessage(operation + ": the contacts database could not be read (" + reason + ").",
                             StatusMessageMs);
    errorMessage = "Database read failed (" + operation + "): " + error.text();
    logError();
}

void Trelvin::reportNetWriteFailure(const QString &call, const QString &reason, bool stored)
{
    Prompter::instance()->message(
        Prompter::Critical, QStringLiteral("Net List Update Failed"),
        "The net list could not take the change of " + call + ".\n\n"
            + (stored ? QStringLiteral("The contacts database has stored it; the net list does not show it.")
                      : QStringLiteral("Nothing of it was stored.")));
    errorMessage = "Net list write failed (" + call + (stored ? ", stored in Contacts.db" : "") + "): " + reason;
    logError();
}
