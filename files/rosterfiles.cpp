#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "data/csv.h"
#include "data/schema.h"
#include "data/direct.h"
#include "files/csvinput.h"
#include "files/filewriting.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>

#include <algorithm>
#include <limits>

namespace {
const char RosterHeader[] = "\"Call\",\"First\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"Zip\",\"Country\","
                            "\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\",\"Born\"\n";
const char RosterFilter[] = "Roster Files (Roster*.csv);;All Files (*.*)";
const int PhoneField = 11;
} // namespace

void Trelvin::recreateMembers()
{
    QSqlQuery query(memoryDb);
    query.exec(QStringLiteral("DROP TABLE IF EXISTS mbr"));
    query.exec(QString::fromLatin1(Schema::CreateMbr));
}

void Trelvin::reportUnreadableRoster(const QString &fileName)
{
    Prompter::instance()->message(
        Prompter::Critical, QStringLiteral("Can't Open File"),
        "File '" + fileName
            + "'\nCould not be Opened.\n\nYou can create 'Roster-{club}.csv' in 3 ways:\n 1. 'Ctrl +' during Net to "
              "add contacts to Roster,\n 2. Manually edit 'Roster-{club}.csv' file\n    (file created when program "
              "terminates),\n 3. Use Menu Item: 'Setup->Roster QRZ Data'\n    to read 'Callsigns-{club}.csv' file "
              "and\n    retrieve data from the QRZ database.");
    errorMessage = "File '" + fileName + "' Could not be Opened.";
    logError();
}

namespace {
const char RosterKept[] = "The club roster was left as it was.";

// A roster line names a member when its first field holds a call sign, and
// every call sign has a letter: this keeps the dates of a net-log file and
// blank lines out of the roster.
bool namesStation(QByteArrayView call)
{
    return std::any_of(call.begin(), call.end(),
                       [](char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); });
}

QString noMemberReason(const LineTally &tally)
{
    return tally.reason(QStringLiteral("This is a net-log file (%1 fields a line); a roster file has %2, the first a "
                                       "call sign.")
                            .arg(Schema::LogFields)
                            .arg(Schema::ContactFields),
                        QStringLiteral("No line starts with a call sign."));
}

// Counts a roster line into `tally`; true when it names a member.
bool countMember(const CsvInput &input, LineTally &tally)
{
    if (input.isBlank())
        return false;
    ++tally.filled;
    if (input.size() == Schema::LogFields)
        ++tally.otherKind;
    if (!namesStation(input.utf8(0)))
        return false;
    ++tally.taken;
    return true;
}
} // namespace

void Trelvin::loadMember(QString fileName)
{
    // The roster in memory belongs to the club whose file this is, read or not.
    recreateMembers();
    unreadRoster.clear();

    QFile file(fileName);
    if (!fileName.isEmpty() && file.open(QIODevice::ReadOnly)) {
        CsvInput input(file);
        const FileText content = input.content();
        LineTally tally;
        if (content == FileText::Text) {
            memoryDb.transaction();
            Direct::Statement insert(memoryDb, "INSERT INTO mbr (id, call) VALUES (NULL, ?)");
            input.skipLine();
            while (input.next()) {
                if (countMember(input, tally)) {
                    input.bind(insert, 1, 0);
                    insert.run();
                }
            }
            if (tally.taken > 0)
                memoryDb.commit();
            else
                memoryDb.rollback();
        }
        // A file with only its header is an empty roster; anything else that
        // gave no member is kept for the operator to look at.
        if (content != FileText::Empty && tally.taken == 0 && (content != FileText::Text || tally.filled > 0)) {
            unreadRoster = fileName;
            writeError("Roster file '" + fileName + "' gave no member: "
                       + (content == FileText::Text ? noMemberReason(tally) : refusalReason(content))
                       + " The roster is empty; the file is left as it is.");
        }
    } else {
        reportUnreadableRoster(fileName);
    }

    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::loadRoster(QString fileName)
{
    if (fileName.isEmpty())
        return;

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        reportUnreadableRoster(fileName);
        return;
    }
    // The members are replaced only by a file that gives at least one.
    CsvInput input(file);
    const FileText content = input.content();
    if (content != FileText::Text) {
        reportNothingLoaded(fileName, refusalReason(content), QString::fromLatin1(RosterKept));
        return;
    }

    ui->statusbar->addPermanentWidget(progressBar);
    ui->statusbar->showMessage(QStringLiteral("Loading Club Roster Data..."));
    progressBar->setValue(0);
    progressBar->setMinimum(0);
    progressBar->setMaximum(int(qMin<qint64>(file.size(), std::numeric_limits<int>::max())));
    progressBar->show();
    statusTipsFilter = 0;

    // One transaction on each database for the whole file: fast, and a
    // failure part-way, or a file without members, leaves the roster and the
    // stored contacts as they were.
    memoryDb.transaction();
    fileDb.transaction();
    Direct::exec(memoryDb, "DROP TABLE IF EXISTS mbr");
    Direct::exec(memoryDb, Schema::CreateMbr);
    LineTally tally;
    bool stored = true;
    QString failure;
    {
        Direct::Statement member(memoryDb, "INSERT INTO mbr (id, call) VALUES (NULL, ?)");
        Direct::Statement find(fileDb, "SELECT * FROM contact WHERE call=?");
        Direct::Statement update(fileDb,
                                 "UPDATE contact SET name=?, last=?, class=?, expire=?, address=?, city=?, state=?, "
                                 "zip=?, country=?, email=?, phone=?, lat=?, lon=?, grid=?, source=?, utc=?, dst=?, "
                                 "born=? WHERE id=?");
        Direct::Statement insert(fileDb, Schema::InsertContact);
        LineLog log([this](const QString &text) { writeError(text); }, fileName,
                    QStringLiteral("... and %1 more lines of '%2' were skipped or kept without contact data"));

        QElapsedTimer sinceRepaint;
        sinceRepaint.start();
        input.skipLine();
        qint64 lineNumber = 1;
        while (stored && input.next()) {
            ++lineNumber;
            if (!countMember(input, tally)) {
                if (!input.isBlank())
                    log.skipped(QStringLiteral("Roster file '%1' line %2 has no call sign in its first field; the "
                                               "line was skipped.")
                                    .arg(fileName)
                                    .arg(lineNumber));
                continue;
            }
            input.bind(member, 1, 0);
            member.run();
            if (input.converted())
                log.converted(lineNumber);

            if (input.size() != Schema::ContactFields) {
                log.skipped(QStringLiteral("Roster file '%1' line %2 has %3 fields instead of %4; its contact data "
                                           "was not stored.")
                                .arg(fileName)
                                .arg(lineNumber)
                                .arg(input.size())
                                .arg(Schema::ContactFields));
            } else {
                input.bind(find, 1, 0);
                if (find.next()) {
                    // An empty field never erases what is stored.
                    for (int k = 1; k < Schema::ContactFields; ++k) {
                        if (input.isEmpty(k))
                            update.bindColumnText(k, find, k + 1);
                        else if (k == PhoneField)
                            update.bindString(k, digitsOnly(input.string(k)));
                        else
                            input.bind(update, k, k);
                    }
                    update.bindInt(Schema::ContactFields, find.integer(0));
                    find.reset();
                    stored = update.run();
                    if (!stored)
                        failure = update.error();
                } else {
                    find.reset();
                    for (int k = 0; k < Schema::ContactFields; ++k) {
                        if (k == PhoneField)
                            insert.bindString(k + 1, digitsOnly(input.string(k)));
                        else
                            input.bind(insert, k + 1, k);
                    }
                    stored = insert.run();
                    if (!stored)
                        failure = insert.error();
                }
            }

            // Let the bar move during a long load, but take no keystrokes meanwhile.
            if (sinceRepaint.elapsed() > 50) {
                progressBar->setValue(int(qMin<qint64>(input.position(), progressBar->maximum())));
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                sinceRepaint.restart();
            }
        }
        log.finish();
    }
    ui->statusbar->clearMessage();
    ui->statusbar->removeWidget(progressBar);
    statusTipsFilter = statusTips;

    if (stored && tally.taken == 0) {
        fileDb.rollback();
        memoryDb.rollback();
        reportNothingLoaded(fileName, noMemberReason(tally), QString::fromLatin1(RosterKept));
    } else if (stored && fileDb.commit()) {
        memoryDb.commit();
    } else {
        if (failure.isEmpty())
            failure = fileDb.lastError().text();
        fileDb.rollback();
        memoryDb.commit();
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                      "The contacts database could not store this change:\nLoading roster " + fileName
                                          + "\n\nThe stored contacts were left as they were.");
        errorMessage = "Database write failed (Loading roster " + fileName + "): " + failure;
        logError();
    }
    if (tally.taken > 0)
        unreadRoster.clear();

    if (rosterWindow->isVisible())
        showRoster();
    if (contactsWindow->isVisible())
        showContacts();
}

void Trelvin::saveRoster(QString fileName)
{
    // The file holds the members' contact data: written from a database that
    // is not open it would lose them all.
    Direct::Statement members(memoryDb, Schema::MembersBySuffix);
    // The columns by name: a table that lacks one fails here instead of
    // writing records short of fields.
    Direct::Statement contact(fileDb, "SELECT id, call, name, last, class, expire, address, city, state, zip, country, "
                                      "email, phone, lat, lon, grid, source, utc, dst, born FROM contact WHERE call=?");
    if (!fileDb.isOpen() || !members.ok() || !contact.ok()) {
        reportUnwritableFile(fileName,
                             QStringLiteral("the contacts database is not open; the file was left as it was"));
        return;
    }
    // Nor is a roster file that could not be read replaced by an empty roster.
    if (fileName == unreadRoster && !members.next()) {
        writeError("Roster file '" + fileName + "' was left as it was: it could not be read and the roster is empty.");
        return;
    }
    members.reset();

    CsvWriter out(fileName);
    out.append(QString::fromLatin1(RosterHeader));
    const Direct::ReadTransaction snapshot(fileDb);
    while (members.next()) {
        contact.bindColumnText(1, members, 0);
        if (contact.next())
            out.appendRecord(contact, 1);
        contact.reset();
    }
    if (!out.commit())
        reportUnwritableFile(fileName, out.errorString());
}

void Trelvin::on_actionLoadRoster_triggered()
{
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open ARC Roster File"), dataDir.path(),
                                                            QString::fromLatin1(RosterFilter));
    if (!name.isEmpty())
        loadRoster(name);
}

void Trelvin::on_actionSaveRoster_triggered()
{
    const QString proposed = dataDir.path() + "/Roster-" + club + "-"
                             + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Current ARC Roster File"), proposed,
                                                            QString::fromLatin1(RosterFilter));
    if (!name.isEmpty())
        saveRoster(name);
}
