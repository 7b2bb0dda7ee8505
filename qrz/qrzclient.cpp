#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "qrz/netreply.h"
#include "qrz/qrzrecord.h"
#include "ui_contact.h"
#include "ui_station.h"
#include "ui_trelvin.h"

#include <QNetworkReply>
#include <QSignalBlocker>
#include <QSqlQuery>
#include <QUrl>

namespace {

const int FillContactDialog = 4;

// Every byte but the unreserved ones is escaped, so a password holding &, ;,
// #, + or a blank reaches the service as typed.
QString encoded(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// The service separates key and call sign by a semicolon.
QString callQuery(const QString &key, const QString &call)
{
    return "s=" + encoded(key) + ";callsign=" + encoded(call);
}

void warnNotConnected()
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Not Connected to QRZ Database"),
                                  QStringLiteral("Please Enter QRZ Username and Password.\nWhere:\n   Username is "
                                                 "the 'Station' Callsign.\n   Password is your QRZ Password\nData "
                                                 "is entered in the 'Station Details' menu item.\n"));
}

// Text of a coordinate of the state-centre table, as short as the value
// allows: the table keeps single-precision numbers.
QString coordinateText(const QVariant &value)
{
    return QString::number(value.toDouble(), 'g', 7);
}

} // namespace

QUrl Trelvin::qrzUrl(const QString &query) const
{
    QString base = qrzServer;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    QUrl url(base + QStringLiteral("/xml/current/"));
    url.setQuery(query, QUrl::StrictMode);
    return url;
}

QNetworkReply *Trelvin::sendGet(const QUrl &url)
{
    return sendGet(url, Net::ReplyLimitBytes, networkDeadlineMs);
}

QNetworkReply *Trelvin::sendGet(const QUrl &url, qint64 maxBytes, int deadlineMs)
{
    return Net::limitedGet(networkManager, url, {networkTimeoutMs, deadlineMs, maxBytes});
}

void Trelvin::connectQRZ()
{
    const QString call = stationDialog->ui->call->text().toUpper();
    const QString password = stationDialog->ui->pwd->text();
    if (call.isEmpty() || password.isEmpty()) {
        qrzConnected = false;
        Prompter::instance()->message(Prompter::Information, QStringLiteral("QRZ XML Database Connection "),
                                      QStringLiteral("Connection to the QRZ XML Database\nrequires your Station Call "
                                                     "and QRZ Passwd.\nPlease enter Call and/or QRZ Passwd in\n"
                                                     "'Setup->Station Details'\nand then Click on 'Connect QRZ'."));
        errorMessage = QStringLiteral("Station Call or QRZ Passwd is missing.");
        logError();
        return;
    }

    QNetworkReply *reply = sendGet(qrzUrl("username=" + encoded(call) + "&password=" + encoded(password)));
    qrzReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        userReadyReadQRZ(reply);
        displayConnectStatus();
        reply->deleteLater();
    });
}

void Trelvin::userReadyReadQRZ(QNetworkReply *reply)
{
    // A request that brought no answer leaves the session as it was.
    if (!replySucceeded(reply)) {
        errorMessage = "QRZ login failed: " + replyFailure(reply);
        logError();
        return;
    }

    const Qrz::LoginReply login = Qrz::parseLogin(reply->readAll());
    if (login.hasError) {
        qrzConnected = false;
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("QRZ Login Error"),
                                      "Error: " + login.error
                                          + ".\nWhere:\n   Username is the 'Station' Call.\n   Password is "
                                            "your QRZ Passwd\nData entered with the 'Station Details' menu "
                                            "item.\nPlease correct entries and try again.");
        errorMessage = QStringLiteral("Station Call or QRZ Passwd error connecting to QRZ database.");
        logError();
        return;
    }
    // Whatever answered, it was not the service logging us in.
    if (!login.failure.isEmpty()) {
        qrzConnected = false;
        errorMessage = "QRZ login failed: " + login.failure;
        logError();
        return;
    }

    qrzConnected = true;
    qrzKey = login.key;
    if (!login.hasSubExp)
        return;
    if (login.subExp != QLatin1String("non-subscriber")) {
        stationDialog->ui->expire->setText(Qrz::subscriptionExpiry(login.subExp));
    } else {
        stationDialog->ui->expire->setText(QStringLiteral("Unsubscribed"));
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Non QRZ XML Data Subscriber"),
            QStringLiteral("Warning: You are a Non-Subscriber to the QRZ XML Data.\nA subscription is "
                           "required to access a complete record.\nYou can only retrieve Call, First Name, "
                           "City, & State data\nand are limited to 100 Call Record retrievals a day.\n"));
    }
}

void Trelvin::displayConnectStatus()
{
    QLineEdit *status = stationDialog->ui->connectStatus;
    if (qrzConnected) {
        status->setPalette(goodPalette);
        status->setText(QStringLiteral("Connected"));
    } else {
        status->setPalette(alertPalette);
        status->setText(QStringLiteral("Disconnected"));
        errorMessage = QStringLiteral("QRZ Login Error or No Internet Connection.");
        logError();
    }
}

void Trelvin::on_lookUpButton_clicked()
{
    const QString call = ui->call->text().toUpper();
    if (!qrzConnected) {
        warnNotConnected();
        return;
    }
    if (call.isEmpty())
        return;

    lookUpCall(call, true);
}

void Trelvin::getContact()
{
    const QString call = contactDialog->ui->call->text().toUpper();
    if (!qrzConnected) {
        warnNotConnected();
        errorMessage = QStringLiteral("Not connected to QRZ Database.");
        logError();
        return;
    }
    if (call.isEmpty())
        return;

    lookUpCall(call, false);
}

void Trelvin::lookUpCall(const QString &call, bool showInMainWindow)
{
    qrzMode |= FillContactDialog;
    const int mode = qrzMode;
    QNetworkReply *reply = sendGet(qrzUrl(callQuery(qrzKey, call)));
    qrzReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, mode, showInMainWindow] {
        callReadyReadQRZ(reply, mode);
        if (showInMainWindow)
            callDisplayData(reply);
        reply->deleteLater();
    });
}

void Trelvin::callReadyReadQRZ(QNetworkReply *reply, int mode)
{
    // Without an answer the record stays as it was and nothing is filled.
    if (replySucceeded(reply)) {
        qrzRecord = Qrz::parseCallRecord(reply->readAll());
        if (qrzRecord.hasKey)
            qrzKey = qrzRecord.key;

        if (mode == 8)
            storeRosterRecord(currentCallsign);

        if (mode & FillContactDialog) {
            Ui::Contact *dialog = contactDialog->ui;
            setClipped(dialog->fname, qrzRecord.fname);
            setClipped(dialog->name, qrzRecord.last);
            setClipped(dialog->classlic, qrzRecord.licenceClass);
            setClipped(dialog->expire, qrzRecord.expire);
            setClipped(dialog->addr, qrzRecord.address);
            setClipped(dialog->city, qrzRecord.city);
            setClipped(dialog->state, qrzRecord.state);
            setClipped(dialog->zip, qrzRecord.zip);
            setClipped(dialog->country, qrzRecord.country);
            // Non-subscribers get no e-mail; one typed in earlier stays.
            if (!qrzRecord.email.isEmpty())
                setClipped(dialog->email, qrzRecord.email);
            setClipped(dialog->lat, qrzRecord.lat);
            setClipped(dialog->lon, qrzRecord.lon);
            setClipped(dialog->grid, qrzRecord.grid);
            setClipped(dialog->geoloc, qrzRecord.source);
            setClipped(dialog->utc, qrzRecord.utc);
            contactUtcOffset = qrzRecord.utc.toInt();
            dialog->tzOffset->setText(QStringLiteral("%1").arg(contactUtcOffset - stationUtcOffset, 2));
            setClipped(dialog->dst, qrzRecord.dst);
            setClipped(dialog->born, qrzRecord.born);
        }
    }
    qrzMode = 0;
}

void Trelvin::callDisplayData(QNetworkReply *reply)
{
    // A failed request shows like a rejected call: the record of an earlier
    // look-up must not pass for this one. The short field takes a short
    // notice; the reason goes to the error log.
    const bool answered = replySucceeded(reply);
    if (!answered) {
        errorMessage = "QRZ look-up of " + ui->call->text().toUpper() + " failed: " + replyFailure(reply);
        logError();
    }
    if (!answered || !qrzRecord.error.isEmpty()) {
        ui->city->setPalette(alertPalette);
        ui->call->setText(ui->search->text().toUpper());
        ui->name->clear();
        setClipped(ui->city, answered ? qrzRecord.error : QStringLiteral("No answer from QRZ"));
        ui->state->clear();
        return;
    }

    ui->city->setPalette(goodPalette);
    setClipped(ui->call, qrzRecord.call);
    setClipped(ui->name, qrzRecord.fname);
    setClipped(ui->city, qrzRecord.city);
    {
        const QSignalBlocker blocker(ui->state);
        setClipped(ui->state, qrzRecord.state);
    }
    on_state_textChanged(qrzRecord.state);
}

void Trelvin::getStation()
{
    if (!qrzConnected) {
        warnNotConnected();
        return;
    }
    const QString call = stationDialog->ui->call->text().toUpper();
    QNetworkReply *reply = sendGet(qrzUrl(callQuery(qrzKey, call)));
    qrzReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        stationReadyReadQRZ(reply);
        getStationFinished(reply);
    });
}

void Trelvin::stationReadyReadQRZ(QNetworkReply *reply)
{
    // Without an answer the dialog keeps what it shows.
    if (!replySucceeded(reply)) {
        errorMessage = "QRZ look-up of this station " + stationDialog->ui->call->text().toUpper()
                       + " failed: " + replyFailure(reply);
        logError();
        return;
    }
    stationRecord = Qrz::parseStationRecord(reply->readAll());
    if (stationRecord.hasKey)
        qrzKey = stationRecord.key;

    Ui::Station *dialog = stationDialog->ui;
    setClipped(dialog->call, stationRecord.call);
    setClipped(dialog->state, stationRecord.state);
    setClipped(dialog->lat, stationRecord.lat);
    setClipped(dialog->lon, stationRecord.lon);
    setClipped(dialog->grid, stationRecord.grid);
    setClipped(dialog->utc, stationRecord.utc);
    setClipped(dialog->dst, stationRecord.dst);
    stationUtcOffset = dialog->utc->text().toInt();
}

void Trelvin::getStationFinished(QNetworkReply *reply)
{
    reply->deleteLater();
}

void Trelvin::saveStation()
{
    Ui::Station *dialog = stationDialog->ui;
    const QString state = dialog->state->text().toUpper();
    // Without a position the centre of the state stands in for it.
    if ((dialog->lat->text().isEmpty() || dialog->lon->text().isEmpty()) && !state.isEmpty()) {
        QSqlQuery centre(memoryDb);
        centre.prepare(QStringLiteral("SELECT lat, lon FROM latlon WHERE st=?"));
        centre.addBindValue(state);
        if (centre.exec() && centre.next()) {
            dialog->lat->setText(coordinateText(centre.value(0)));
            dialog->lon->setText(coordinateText(centre.value(1)));
        }
    }

    QSqlQuery existing(fileDb);
    const bool known = existing.exec(QStringLiteral("SELECT * FROM station")) && existing.next();
    existing.finish();

    // The table holds one row: it is rewritten whole.
    QSqlQuery write(fileDb);
    if (known)
        write.prepare(QStringLiteral("UPDATE station SET call=?, passwd=?, state=?, lat=?, lon=?, grid=?, utc=?, dst=?"));
    else
        write.prepare(QStringLiteral("INSERT INTO station (call, passwd, state, lat, lon, grid, utc, dst) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QString &value : {dialog->call->text().toUpper(), dialog->pwd->text(), state, dialog->lat->text(),
                                 dialog->lon->text(), dialog->grid->text(), dialog->utc->text(), dialog->dst->text()})
        write.addBindValue(value);
    execWrite(write, QStringLiteral("Saving station details"));
}

void Trelvin::setStationDetails()
{
    Ui::Station *dialog = stationDialog->ui;
    QSqlQuery station(fileDb);
    if (station.exec(QStringLiteral("SELECT * FROM station")) && station.next()) {
        const auto column = [&station](const char *name) { return station.value(QLatin1String(name)).toString(); };
        setClipped(dialog->call, column("call"));
        setClipped(dialog->pwd, column("passwd"));
        setClipped(dialog->state, column("state"));
        setClipped(dialog->lat, column("lat"));
        setClipped(dialog->lon, column("lon"));
        setClipped(dialog->grid, column("grid"));
        setClipped(dialog->utc, column("utc"));
        setClipped(dialog->dst, column("dst"));
        stationUtcOffset = dialog->utc->text().toInt();
    } else {
        for (QLineEdit *field : {dialog->call, dialog->pwd, dialog->state, dialog->lat, dialog->lon, dialog->grid,
                                 dialog->utc, dialog->dst})
            field->clear();
    }
}
