#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "data/csv.h"
#include "data/schema.h"
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
#include <QSqlRecord>
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
        QSqlQuery member(memoryDb);
        member.prepare(QStringLiteral("INSERT INTO mbr (id, call) VALUES (NULL, ?)"));
        QSqlQuery find(fileDb);
        find.prepare(QStringLiteral("SELECT * FROM contact WHERE call=?"));
        QSqlQuery update(fileDb);
        update.prepare(QStringLiteral(
            "UPDATE contact SET name=?, last=?, class=?, expire=?, address=?, city=?, state=?, zip=?, country=?, "
            "email=?, phone=?, lat=?, lon=?, grid=?, source=?, utc=?, dst=?, born=? WHERE id=?"));
        QSqlQuery insert(fileDb);
        insert.prepare(QString::fromLatin1(Schema::InsertContact));

        bool stored = true;
        QString failure;
        QElapsedTimer sinceRepaint;
        sinceRepaint.start();
        file.readLine();
        int lineNumber = 1;
        QList<QString> fields;
        while (!file.atEnd() && stored) {
            processLine(file, fields);
            ++lineNumber;
            if (fields.isEmpty())
                continue;
            member.addBindValue(fields.at(0));
            member.exec();

            if (fields.size() != Schema::ContactFields) {
                writeError(QStringLiteral("Roster file '%1' line %2 has %3 fields instead of %4; its contact data "
                                          "was not stored.")
                               .arg(fileName)
                               .arg(lineNumber)
                               .arg(fields.size())
                               .arg(Schema::ContactFields));
            } else {
                find.addBindValue(fields.at(0));
                find.exec();
                if (find.next()) {
                    // An empty field never erases what is stored.
                    for (int k = 1; k < Schema::ContactFields; ++k) {
                        if (fields.at(k).isEmpty())
                            update.addBindValue(find.value(k + 1).toString());
                        else if (k == PhoneField)
                            update.addBindValue(digitsOnly(fields.at(k)));
                        else
                            update.addBindValue(fields.at(k));
                    }
                    update.addBindValue(find.value(0).toInt());
                    find.finish();
                    stored = update.exec();
                    if (!stored)
                        failure = update.lastError().text();
                } else {
                    find.finish();
                    for (int k = 0; k < Schema::ContactFields; ++k)
                        insert.addBindValue(k == PhoneField ? digitsOnly(fields.at(k)) : fields.at(k));
                    stored = insert.exec();
                    if (!stored)
                        failure = insert.lastError().text();
                }
            }

            progressBar->setValue(int(qMin<qint64>(file.pos(), progressBar->maximum())));
            // Let the bar move during a long load, but take no keystrokes meanwhile.
            if (sinceRepaint.elapsed() > 50) {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                sinceRepaint.restart();
            }
        }

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
    QString text = QString::fromLatin1(RosterHeader);
    QSqlQuery members(QString::fromLatin1(Schema::MembersBySuffix), memoryDb);
    QSqlQuery contact(fileDb);
    contact.prepare(QStringLiteral("SELECT  * FROM contact WHERE call=?"));
    while (members.next()) {
        contact.addBindValue(members.value(0).toString());
        if (contact.exec() && contact.next()) {
            QStringList values;
            const int columns = contact.record().count();
            for (int c = 1; c < columns; ++c)
                values.append(contact.value(c).toString());
            text += csvRecord(values);
        }
        contact.finish();
    }
    if (!writeTextFile(fileName, text)) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                                      QStringLiteral("The File to write could not be Opened."));
        errorMessage = "File '" + fileName + "' Could not be Opened.";
        logError();
    }
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
