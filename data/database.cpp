#include "app/constants.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/schema.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

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
    if (fileDb.open()) {
        // An existing file that is not a database opens fine and only fails
        // here; without this check the program would go on storing nothing.
        QSqlQuery query(fileDb);
        // Some SQLite builds zero every freed page, which makes replacing a
        // table of a million contacts write it all twice; freed pages are
        // only zeroed where that costs no extra writes.
        query.exec(QStringLiteral("PRAGMA secure_delete = FAST"));
        // The look-ups by call run on every station shown and every check-in;
        // the indexes keep them fast on a database of many years.
        for (const char *statement : {Schema::CreateContact, Schema::CreateLog, Schema::CreateStation,
                                      Schema::IndexContactCall, Schema::IndexLogCall, Schema::IndexLogDate}) {
            if (!query.exec(QString::fromLatin1(statement))) {
                failure = query.lastError().text();
                break;
            }
        }
        if (!failure.isEmpty())
            fileDb.close();
    } else {
        failure = fileDb.lastError().text();
    }

    attachContacts();

    if (!failure.isEmpty()) {
        prompter->message(Prompter::Critical, QStringLiteral("Cannot open Trelvin database"),
                          QStringLiteral("Unable to establish a File database connection.\n"
                                         "This program needs SQLite support."),
                          QMessageBox::Cancel);
        errorMessage = "Unable to establish a File database connection. " + path + ": " + failure;
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
    const QString reason = query.lastError().text();
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                  "The contacts database could not store this change:\n" + operation
                                      + "\n\nThe check-in data shown may be incomplete.");
    errorMessage = "Database write failed (" + operation + "): " + reason;
    logError();
    return false;
}
