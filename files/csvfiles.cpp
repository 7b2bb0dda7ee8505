#include "app/prompter.h"
#include "app/trelvin.h"
#include "data/csv.h"
#include "data/schema.h"
#include "files/csvinput.h"
#include "files/filewriting.h"
#include "reports/seelogs.h"

#include <QDate>

namespace {
const char ContactsHeader[] = "\"Call\",\"Name\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"ZIP\","
                              "\"Country\",\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\","
                              "\"Born\"\n";
const char LogHeader[] = "\"Date\",\"Time\",\"S\",\"Station\",\"Operator\",\"Relay\",\"City\",\"St\",\"Comments\"\n";
const char ContactsFilter[] = "Contacts Files (Contacts*.csv);;All Files (*.*)";
const char LogFilter[] = "Trelvin Files (Trelvin*.csv);;All Files (*.*)";

struct TableFile {
    const char *header;
    int fields;
    const char *what;
    // For the box when a file gives nothing: what this file is, what a file
    // of the other kind is and how many fields its lines have, what was kept.
    const char *kind;
    const char *otherKind;
    int otherFields;
    const char *kept;
};

const TableFile ContactsFile{ContactsHeader,
                             Schema::ContactFields,
                             "Loading contacts",
                             "contacts file",
                             "net-log file",
                             Schema::LogFields,
                             "The contacts were left as they were."};
const TableFile LogFile{LogHeader,
                        Schema::LogFields,
                        "Loading the net log",
                        "net-log file",
                        "contacts or roster file",
                        Schema::ContactFields,
                        "The net log was left as it was."};

const TableFile &fileOf(Storage::Table table)
{
    return table == Storage::Table::Contacts ? ContactsFile : LogFile;
}
} // namespace

bool Trelvin::saveRows(const QString &fileName, const QString &header,
                       const std::function<Storage::Result(CsvWriter &)> &rows)
{
    // A file written from a database that is not open, or that could not be
    // read to its end, would hold less than the one it replaces.
    if (!storage.contactsOpen()) {
        reportUnwritableFile(fileName,
                             QStringLiteral("the contacts database is not open; the file was left as it was"));
        return false;
    }
    CsvWriter out(fileName);
    out.append(header);
    const Storage::Result read = rows(out);
    if (!read.ok()) {
        reportUnwritableFile(fileName, "the contacts database could not be read (" + read.error
                                           + "); the file was left as it was");
        return false;
    }
    if (!out.commit()) {
        reportUnwritableFile(fileName, out.errorString());
        return false;
    }
    return true;
}

void Trelvin::saveTable(Storage::Table table, const QString &fileName)
{
    // The rows go out as UTF-8 straight from SQLite, in slices, so a table
    // of a million rows never sits in memory as one text.
    saveRows(fileName, QString::fromLatin1(fileOf(table).header), [this, table](CsvWriter &out) {
        return storage.eachRow(table, [&out](const StoredRow &row) { out.appendRecord(row, 1); });
    });
}

void Trelvin::reportUnwritableFile(const QString &fileName, const QString &reason)
{
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                  QStringLiteral("The File to write could not be Opened."));
    writeError("File '" + fileName + "' Could not be Opened." + (reason.isEmpty() ? QString() : " (" + reason + ")"));
}

void Trelvin::reportNothingLoaded(const QString &fileName, const QString &reason, const QString &kept)
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Nothing Loaded"),
                                  nothingLoadedText(fileName, reason, kept));
    writeError("Nothing was loaded from '" + fileName + "': " + reason);
}

bool Trelvin::loadTable(Storage::Table table, const QString &fileName)
{
    const TableFile &spec = fileOf(table);
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                      QStringLiteral("The File you selected could not be Opened."));
        writeError("File '" + fileName + "' Could not be Opened.");
        return false;
    }
    // A file that is no text is refused before anything is written.
    CsvInput input(file);
    const FileText content = input.content();
    if (content != FileText::Text) {
        reportNothingLoaded(fileName, refusalReason(content), QString::fromLatin1(spec.kept));
        return false;
    }

    // Every line of the right length is stored; a line of another length is
    // skipped and logged.
    LineTally tally;
    LineLog log([this](const QString &text) { writeError(text); }, fileName,
                QStringLiteral("... and %1 more lines of '%2' were skipped"));
    qint64 lineNumber = 1;
    input.skipLine();
    const Storage::Loaded loaded = storage.replaceTable(table, [&]() -> const CsvBytes * {
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
            ++tally.taken;
            if (input.converted())
                log.converted(lineNumber);
            return &input.fields();
        }
        return nullptr;
    });
    log.finish();

    if (loaded.result.ok() && loaded.rows > 0)
        return true;
    if (loaded.result.ok()) {
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
    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                  QString::fromLatin1("The contacts database could not store this change:\n")
                                      + spec.what + " from " + fileName + "\n\nThe previous rows were kept.");
    writeError(QString::fromLatin1("Database write failed (") + spec.what + " from " + fileName
               + "): " + loaded.result.error);
    return false;
}

void Trelvin::on_actionSaveContacts_triggered()
{
    const QString proposed = dataDir.path() + "/Contacts-" + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Contacts Database File"), proposed,
                                                            QString::fromLatin1(ContactsFilter));
    if (!name.isEmpty())
        saveTable(Storage::Table::Contacts, name);
}

void Trelvin::on_actionSaveTrelvin_triggered()
{
    const QString proposed = dataDir.path() + "/Trelvin-" + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Net Log File"), proposed,
                                                            QString::fromLatin1(LogFilter));
    if (!name.isEmpty())
        saveTable(Storage::Table::Log, name);
}

void Trelvin::on_actionLoadContacts_triggered()
{
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open Contact Database File"),
                                                            dataDir.path(), QString::fromLatin1(ContactsFilter));
    if (name.isEmpty())
        return;
    loadTable(Storage::Table::Contacts, name);
    if (contactsWindow->isVisible())
        showContacts();
}

void Trelvin::on_actionLoadTrelvin_triggered()
{
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open Net Log File"), dataDir.path(),
                                                            QString::fromLatin1(LogFilter));
    if (!name.isEmpty())
        loadTable(Storage::Table::Log, name);
}
