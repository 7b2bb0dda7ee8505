#include "app/prompter.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/schema.h"
#include "files/filewriting.h"
#include "reports/seelogs.h"

#include <QDate>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
const char ContactsHeader[] = "\"Call\",\"Name\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"ZIP\","
                              "\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\","
                              "\"Born\"\n";
const char LogHeader[] = "\"Date\",\"Time\",\"S\",\"Station\",\"Operator\",\"Relay\",\"City\",\"St\",\"Comments\"\n";
const char ContactsFilter[] = "Contacts Files (Contacts*.csv);;All Files (*.*)";
const char LogFilter[] = "Trelvin Files (Trelvin*.csv);;All Files (*.*)";

struct TableFile {
    const char *table;
    const char *header;
    const char *create;
    QList<const char *> indexes;
    const char *insert;
    int fields;
    const char *what;
};

const TableFile ContactsFile{"contact", ContactsHeader, Schema::CreateContact, {Schema::IndexContactCall},
                             Schema::InsertContact, Schema::ContactFields, "Loading contacts"};
const TableFile LogFile{"log", LogHeader, Schema::CreateLog, {Schema::IndexLogCall, Schema::IndexLogDate},
                        Schema::InsertLog, Schema::LogFields, "Loading the net log"};
} // namespace

void Trelvin::saveTable(const QString &table, const QString &header, const QString &fileName)
{
    QString text = header;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    if (query.exec("SELECT * FROM " + table)) {
        const int columns = query.record().count();
        QStringList values;
        while (query.next()) {
            values.clear();
            for (int c = 1; c < columns; ++c)
                values.append(query.value(c).toString());
            text += csvRecord(values);
        }
    }
    if (!writeTextFile(fileName, text)) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                      QStringLiteral("The File to write could not be Opened."));
        errorMessage = "File '" + fileName + "' Could not be Opened.";
        logError();
    }
}

bool Trelvin::loadTable(const QString &table, const QString &fileName)
{
    const TableFile &spec = table == QLatin1String("contact") ? ContactsFile : LogFile;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                      QStringLiteral("The File you selected could not be Opened."));
        errorMessage = "File '" + fileName + "' Could not be Opened.";
        logError();
        return false;
    }

    // The whole replacement, DROP and CREATE included, is one transaction: an
    // error part-way leaves the previous rows in place.
    QString failure;
    fileDb.transaction();
    QSqlQuery query(fileDb);
    QStringList statements{QStringLiteral("DROP TABLE IF EXISTS ") + spec.table, QString::fromLatin1(spec.create)};
    for (const char *index : spec.indexes)
        statements.append(QString::fromLatin1(index));
    for (const QString &statement : std::as_const(statements)) {
        if (failure.isEmpty() && !query.exec(statement))
            failure = query.lastError().text();
    }
    if (failure.isEmpty() && !query.prepare(QString::fromLatin1(spec.insert)))
        failure = query.lastError().text();

    file.readLine();
    int lineNumber = 1;
    QList<QString> fields;
    while (failure.isEmpty() && !file.atEnd()) {
        processLine(file, fields);
        ++lineNumber;
        if (fields.size() != spec.fields) {
            writeError(QStringLiteral("File '%1' line %2 has %3 fields instead of %4; the line was skipped.")
                           .arg(fileName)
                           .arg(lineNumber)
                           .arg(fields.size())
                           .arg(spec.fields));
            continue;
        }
        for (const QString &field : std::as_const(fields))
            query.addBindValue(field);
        if (!query.exec())
            failure = query.lastError().text();
    }

    if (failure.isEmpty() && fileDb.commit())
        return true;
    if (failure.isEmpty())
        failure = fileDb.lastError().text();
    fileDb.rollback();
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                  QString::fromLatin1("The contacts database could not store this change:\n") + spec.what
                                      + " from " + fileName + "\n\nThe previous rows were kept.");
    errorMessage = QString::fromLatin1("Database write failed (") + spec.what + " from " + fileName + "): " + failure;
    logError();
    return false;
}

void Trelvin::on_actionSaveContacts_triggered()
{
    const QString proposed = dataDir.path() + "/Contacts-" + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Contacts Database File"), proposed,
                                                            QString::fromLatin1(ContactsFilter));
    if (!name.isEmpty())
        saveTable(QStringLiteral("contact"), QString::fromLatin1(ContactsHeader), name);
}

void Trelvin::on_actionSaveTrelvin_triggered()
{
    const QString proposed = dataDir.path() + "/Trelvin-" + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Net Log File"), proposed,
                                                            QString::fromLatin1(LogFilter));
    if (!name.isEmpty())
        saveTable(QStringLiteral("log"), QString::fromLatin1(LogHeader), name);
}

void Trelvin::on_actionLoadContacts_triggered()
{
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open Contact Database File"),
                                                            dataDir.path(), QString::fromLatin1(ContactsFilter));
    if (name.isEmpty())
        return;
    loadTable(QStringLiteral("contact"), name);
    if (contactsWindow->isVisible())
        showContacts();
}

void Trelvin::on_actionLoadTrelvin_triggered()
{
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open Net Log File"), dataDir.path(),
                                                            QString::fromLatin1(LogFilter));
    if (!name.isEmpty())
        loadTable(QStringLiteral("log"), name);
}
