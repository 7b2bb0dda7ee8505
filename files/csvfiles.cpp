#include "app/prompter.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/direct.h"
#include "data/schema.h"
#include "files/csvinput.h"
#include "files/filewriting.h"
#include "reports/seelogs.h"

#include <QDate>
#include <QSqlError>

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
    // For the box when a file gives nothing: what this file is, what a file
    // of the other kind is and how many fields its lines have, what was kept.
    const char *kind;
    const char *otherKind;
    int otherFields;
    const char *kept;
};

const TableFile ContactsFile{"contact",
                             ContactsHeader,
                             Schema::CreateContact,
                             {Schema::IndexContactCall},
                             Schema::InsertContact,
                             Schema::ContactFields,
                             "Loading contacts",
                             "contacts file",
                             "net-log file",
                             Schema::LogFields,
                             "The contacts were left as they were."};
const TableFile LogFile{"log",
                        LogHeader,
                        Schema::CreateLog,
                        {Schema::IndexLogCall, Schema::IndexLogDate},
                        Schema::InsertLog,
                        Schema::LogFields,
                        "Loading the net log",
                        "net-log file",
                        "contacts or roster file",
                        Schema::ContactFields,
                        "The net log was left as it was."};
} // namespace

void Trelvin::saveTable(const QString &table, const QString &header, const QString &fileName)
{
    // The rows go out as UTF-8 straight from SQLite, in slices, so a table
    // of a million rows never sits in memory as one text.
    CsvWriter out(fileName);
    out.append(header);
    const QByteArray select = "SELECT * FROM " + table.toUtf8();
    {
        Direct::Statement query(fileDb, select.constData());
        const Direct::Lock lock(fileDb);
        while (query.next())
            out.appendRecord(query, 1);
    }
    if (!out.commit())
        reportUnwritableFile(fileName, out.errorString());
}

void Trelvin::reportUnwritableFile(const QString &fileName, const QString &reason)
{
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                  QStringLiteral("The File to write could not be Opened."));
    errorMessage = "File '" + fileName + "' Could not be Opened.";
    if (!reason.isEmpty())
        errorMessage += " (" + reason + ")";
    logError();
}

void Trelvin::reportNothingLoaded(const QString &fileName, const QString &reason, const QString &kept)
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Nothing Loaded"),
                                  nothingLoadedText(fileName, reason, kept));
    errorMessage = "Nothing was loaded from '" + fileName + "': " + reason;
    logError();
}

namespace {

// Inserts every line of the right length; a line of another length is
// skipped and logged. Returns the reason of the first failed insert.
QString insertLines(Trelvin &w, const QSqlDatabase &db, Direct::Statement &insert, CsvInput &input,
                    const TableFile &spec, const QString &fileName, LineTally &tally)
{
    const Direct::Lock lock(db);
    LineLog log([&w](const QString &text) { w.writeError(text); }, fileName,
                QStringLiteral("... and %1 more lines of '%2' were skipped"));
    QString failure;
    qint64 lineNumber = 1;
    while (input.next()) {
        ++lineNumber;
        if (!input.isBlank()) {
            ++tally.filled;
            if (input.size() == spec.otherFields)
                ++tally.otherKind;
        }
        if (input.size() != spec.fields) {
            log.skipped(QStringLiteral("File '%1' line %2 has %3 fields instead of %4; the line was skipped.")
                            .arg(fileName)
                            .arg(lineNumber)
                            .arg(input.size())
                            .arg(spec.fields));
            continue;
        }
        for (int k = 0; k < spec.fields; ++k)
            input.bind(insert, k + 1, k);
        if (!insert.run()) {
            failure = insert.error();
            break;
        }
        ++tally.taken;
        if (input.converted())
            log.converted(lineNumber);
    }
    log.finish();
    return failure;
}

} // namespace

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
    // A file that is no text is refused before anything is written.
    CsvInput input(file);
    const FileText content = input.content();
    if (content != FileText::Text) {
        reportNothingLoaded(fileName, refusalReason(content), QString::fromLatin1(spec.kept));
        return false;
    }

    // The whole replacement is one transaction: an error part-way, or a file
    // that gives no line, leaves the previous rows in place. The rows go into
    // a new table that takes the old one's name at the end. Written into
    // pages that held no data when the transaction began, they need no copy
    // in the rollback journal; rows written over the pages of a table dropped
    // first would, which doubles what reaches the disk.
    QString failure;
    LineTally tally;
    const QSqlDatabase &db = fileDb;
    fileDb.transaction();
    const QByteArray name(spec.table);
    const QByteArray loading = name + "_loading";
    const QByteArray create = QByteArray(spec.create).replace("IF NOT EXISTS " + name + " ", loading + " ");
    const QByteArray insertSql = QByteArray(spec.insert).replace("INTO " + name + " ", "INTO " + loading + " ");
    if (Direct::exec(db, ("DROP TABLE IF EXISTS " + loading).constData(), &failure))
        Direct::exec(db, create.constData(), &failure);
    if (failure.isEmpty()) {
        Direct::Statement insert(db, insertSql.constData());
        if (!insert.ok())
            failure = insert.error();
        if (failure.isEmpty()) {
            input.skipLine();
            failure = insertLines(*this, db, insert, input, spec, fileName, tally);
        }
    }
    if (failure.isEmpty() && tally.taken == 0) {
        fileDb.rollback();
        const QString reason = tally.reason(QStringLiteral("This is a %1 (%2 fields a line); a %3 has %4.")
                                                .arg(QLatin1String(spec.otherKind))
                                                .arg(spec.otherFields)
                                                .arg(QLatin1String(spec.kind))
                                                .arg(spec.fields),
                                            QStringLiteral("No line has the %1 fields of a %2.")
                                                .arg(spec.fields)
                                                .arg(QLatin1String(spec.kind)));
        reportNothingLoaded(fileName, reason, QString::fromLatin1(spec.kept));
        return false;
    }
    if (failure.isEmpty() && Direct::exec(db, ("DROP TABLE IF EXISTS " + name).constData(), &failure))
        Direct::exec(db, ("ALTER TABLE " + loading + " RENAME TO " + name).constData(), &failure);
    // Indexes built once over the loaded rows cost far less than kept up row by row.
    for (const char *index : spec.indexes) {
        if (failure.isEmpty())
            Direct::exec(db, index, &failure);
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
