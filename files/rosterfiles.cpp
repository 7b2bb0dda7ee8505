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
#include <limits>
#include <QDate>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>

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

void Trelvin::loadMember(QString fileName)
{
    recreateMembers();

    QFile file(fileName);
    if (!fileName.isEmpty() && file.open(QIODevice::ReadOnly)) {
        memoryDb.transaction();
        QSqlQuery insert(memoryDb);
        insert.prepare(QStringLiteral("INSERT INTO mbr (id, call) VALUES (NULL, ?)"));
        file.readLine();
        QList<QString> fields;
        while (!file.atEnd()) {
            processLine(file, fields);
            if (fields.isEmpty())
                continue;
            insert.addBindValue(fields.at(0));
            insert.exec();
        }
        memoryDb.commit();
    } else {
        reportUnreadableRoster(fileName);
    }

    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::loadRoster(QString fileName)
{
    recreateMembers();
    if (fileName.isEmpty())
        return;

    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly)) {
        ui->statusbar->addPermanentWidget(progressBar);
        ui->statusbar->showMessage(QStringLiteral("Loading Club Roster Data..."));
        progressBar->setValue(0);
        progressBar->setMinimum(0);
        progressBar->setMaximum(int(qMin<qint64>(file.size(), std::numeric_limits<int>::max())));
        progressBar->show();
        statusTipsFilter = 0;

        // One transaction for the whole file: fast, and a failure part-way
        // leaves the stored contacts as they were.
        memoryDb.transaction();
        fileDb.transaction();
        Direct::Statement member(memoryDb, "INSERT INTO mbr (id, call) VALUES (NULL, ?)");
        Direct::Statement find(fileDb, "SELECT * FROM contact WHERE call=?");
        Direct::Statement update(fileDb,
                                 "UPDATE contact SET name=?, last=?, class=?, expire=?, address=?, city=?, state=?, "
                                 "zip=?, country=?, email=?, phone=?, lat=?, lon=?, grid=?, source=?, utc=?, dst=?, "
                                 "born=? WHERE id=?");
        Direct::Statement insert(fileDb, Schema::InsertContact);

        bool stored = true;
        QString failure;
        QElapsedTimer sinceRepaint;
        sinceRepaint.start();
        CsvInput input(file);
        input.skipLine();
        int lineNumber = 1;
        while (stored && input.next()) {
            ++lineNumber;
            if (input.size() == 0)
                continue;
            input.bind(member, 1, 0);
            member.run();

            if (input.size() != Schema::ContactFields) {
                writeError(QStringLiteral("Roster file '%1' line %2 has %3 fields instead of %4; its contact data "
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
        progressBar->setValue(int(qMin<qint64>(input.position(), progressBar->maximum())));

        if (stored && fileDb.commit()) {
            memoryDb.commit();
        } else {
            if (failure.isEmpty())
                failure = fileDb.lastError().text();
            fileDb.rollback();
            memoryDb.commit();
            Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                          "The contacts database could not store this change:\nLoading roster "
                                              + fileName + "\n\nThe stored contacts were left as they were.");
            errorMessage = "Database write failed (Loading roster " + fileName + "): " + failure;
            logError();
        }

        ui->statusbar->clearMessage();
        ui->statusbar->removeWidget(progressBar);
        statusTipsFilter = statusTips;
    } else {
        reportUnreadableRoster(fileName);
    }

    if (rosterWindow->isVisible())
        showRoster();
    if (contactsWindow->isVisible())
        showContacts();
}

void Trelvin::saveRoster(QString fileName)
{
    CsvWriter out(fileName);
    out.append(QString::fromLatin1(RosterHeader));
    const Direct::ReadTransaction snapshot(fileDb);
    Direct::Statement members(memoryDb, Schema::MembersBySuffix);
    Direct::Statement contact(fileDb, "SELECT  * FROM contact WHERE call=?");
    while (members.next()) {
        contact.bindColumnText(1, members, 0);
        if (contact.next())
            out.appendRecord(contact, 1);
        contact.reset();
    }
    if (!out.commit())
        reportUnwritableFile(fileName);
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
