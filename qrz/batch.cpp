#include "app/prompter.h"
#include "app/trelvin.h"
#include "qrz/netreply.h"
#include "reports/seelogs.h"
#include "ui_trelvin.h"

#include <QNetworkReply>
#include <QProgressBar>
#include <QSqlQuery>
#include <QStatusBar>
#include <QUrl>

namespace {
const int RosterRun = 8;
} // namespace

void Trelvin::on_actionQRZClubData_triggered()
{
    Prompter *prompter = Prompter::instance();
    if (!qrzConnected) {
        prompter->message(Prompter::Warning, QStringLiteral("Not Connected to QRZ Database"),
                          QStringLiteral("Please Enter QRZ Username and Password.\nWhere:\n   Username is the "
                                         "'Station' Callsign.\n   Password is your QRZ Password\nData is entered in "
                                         "the 'Station Details' menu item.\n"));
        return;
    }
    if (prompter->message(Prompter::Warning, QStringLiteral("Warning: Long Process Ahead"),
                          QStringLiteral("This Process can take a while.  Only do this as neccessary.\nDepending on "
                                         "computer, this can take from 20 to 200+ Seconds per 100 callsigns."),
                          QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;

    recreateMembers();
    readCallsignList();
    if (callsignList.isEmpty()) {
        // The roster is empty now; an open roster report must not show the old one.
        if (rosterWindow->isVisible())
            showRoster();
        return;
    }

    callsignIndex = 0;
    ui->statusbar->addPermanentWidget(progressBar);
    ui->statusbar->showMessage(QStringLiteral("Extracting QRZ Member Data..."));
    progressBar->setValue(0);
    progressBar->setMinimum(0);
    progressBar->setMaximum(int(callsignList.size()));
    progressBar->show();
    statusTipsFilter = 0;
    // Two runs at once would share the list and the index.
    ui->actionQRZClubData->setEnabled(false);
    callDataListQRZ();
}

void Trelvin::readCallsignList()
{
    callsignList.clear();
    Prompter *prompter = Prompter::instance();
    const QString name = prompter->openFileName(QStringLiteral("Open Member Callsign List File"), dataDir.path(),
                                                QStringLiteral("Calls (Roster*.csv Callsign*.csv);;All Files (*.*)"));
    if (name.isEmpty())
        return;

    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        prompter->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                          QStringLiteral("The File you selected could not be Opened."));
        errorMessage = "File '" + name + "' Could not be Opened.";
        logError();
        return;
    }

    file.readLine();
    QList<QString> fields;
    while (!file.atEnd()) {
        processLine(file, fields);
        // A blank line names no station; asking QRZ for it only costs a request.
        if (!fields.isEmpty() && !fields.first().isEmpty())
            callsignList.append(fields.first());
    }
}

void Trelvin::callDataListQRZ()
{
    qrzMode = RosterRun;
    if (callsignIndex < callsignList.size()) {
        ui->statusbar->showMessage(QStringLiteral("Extracting QRZ Member Data..."));
        progressBar->setValue(callsignIndex);
        currentCallsign = callsignList.at(callsignIndex);
        ++callsignIndex;

        // One request at a time: the next goes out when this one has ended,
        // answered or not.
        QNetworkReply *reply = sendGet(qrzUrl("s=" + QString::fromLatin1(QUrl::toPercentEncoding(qrzKey))
                                              + ";callsign=" + QString::fromLatin1(QUrl::toPercentEncoding(currentCallsign))));
        qrzReply = reply;
        const QString requested = currentCallsign;
        connect(reply, &QNetworkReply::finished, this, [this, reply, requested] {
            if (!replySucceeded(reply)) {
                errorMessage = "Callsign List Error, " + requested + ": " + replyFailure(reply);
                logError();
            }
            callReadyReadQRZ(reply, RosterRun);
            reply->deleteLater();
            callDataListQRZ();
        });
        return;
    }

    qrzMode = 0;
    ui->statusbar->clearMessage();
    ui->statusbar->removeWidget(progressBar);
    statusTipsFilter = statusTips;
    ui->callsigns->setText(QString::number(callsignList.size()));
    if (rosterWindow->isVisible())
        showRoster();
    if (contactsWindow->isVisible())
        showContacts();
    ui->actionQRZClubData->setEnabled(true);
}

void Trelvin::storeRosterRecord(const QString &requested)
{
    if (!qrzRecord.error.isEmpty()) {
        errorMessage = "Callsign List Error, " + qrzRecord.error;
        logError();
        return;
    }

    // Something that is no call record (a portal page, say) must not become
    // an empty contact.
    if (qrzRecord.call.isEmpty()) {
        errorMessage = "Callsign List Error, " + requested + ": the reply holds no call record.";
        logError();
        return;
    }
    // The roster holds the call as QRZ spells it.
    const QString call = qrzRecord.call;
    QSqlQuery member(memoryDb);
    member.prepare(QStringLiteral("INSERT INTO mbr (id, call) VALUES (NULL, ?)"));
    member.addBindValue(call);
    member.exec();

    QSqlQuery stored(fileDb);
    stored.prepare(QStringLiteral("SELECT * FROM contact WHERE call=?"));
    stored.addBindValue(call);
    const bool known = stored.exec() && stored.next();
    if (known) {
        // What the operator stored wins over QRZ, field by field; the licence
        // data always comes from QRZ.
        const struct {
            const char *column;
            QString *field;
        } kept[] = {{"name", &qrzRecord.fname},  {"address", &qrzRecord.address}, {"city", &qrzRecord.city},
                    {"state", &qrzRecord.state}, {"zip", &qrzRecord.zip},         {"country", &qrzRecord.country},
                    {"email", &qrzRecord.email}, {"phone", &qrzRecord.phone},     {"lat", &qrzRecord.lat},
                    {"lon", &qrzRecord.lon},     {"grid", &qrzRecord.grid},       {"source", &qrzRecord.source},
                    {"utc", &qrzRecord.utc},     {"dst", &qrzRecord.dst},         {"born", &qrzRecord.born}};
        for (const auto &entry : kept) {
            const QString value = stored.value(QLatin1String(entry.column)).toString();
            if (!value.isEmpty())
                *entry.field = value;
        }
    }
    stored.finish();

    writeContact(known,
                 {call, qrzRecord.fname, qrzRecord.last, qrzRecord.licenceClass, qrzRecord.expire, qrzRecord.address,
                  qrzRecord.city, qrzRecord.state, qrzRecord.zip, qrzRecord.country, qrzRecord.email, qrzRecord.phone,
                  qrzRecord.lat, qrzRecord.lon, qrzRecord.grid, qrzRecord.source, qrzRecord.utc, qrzRecord.dst,
                  qrzRecord.born},
                 "Storing QRZ data of " + call);
}
