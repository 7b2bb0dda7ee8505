#include "app/constants.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "jobs/bulkjob.h"
#include "callbook/hamqthclient.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "qrz/qrzclient.h"
#include "reports/seelogs.h"
#include "secrets/secretstore.h"
#include "ui_contact.h"
#include "ui_station.h"
#include "ui_trelvin.h"

#include <QFile>
#include <QProgressBar>
#include <QSet>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

// The hub's side of the QRZ client: it reads the forms, starts the client's
// requests and shows what comes back.

namespace {

// Text of a coordinate of the state-centre table, as short as the value
// allows: the table keeps single-precision numbers.
QString coordinateText(double value)
{
    return QString::number(value, 'g', 7);
}

// What a call look-up is for: the Contact dialog always takes the record.
// A refinement follows the offline call book's record of a call the
// operator searched for; it fails quietly.
enum LookUpUse { ForContactDialog = 0, ForMainWindowToo = 1, ForRefinement = 2 };

// A looked-up value into a field, unless the operator typed there: a
// look-up never overwrites what was typed. A field the program emptied
// also counts as modified, but holds nothing to keep.
void offer(QLineEdit *field, const QString &value)
{
    if (!field->isModified() || field->text().isEmpty())
        setClipped(field, value);
}

void warnNotConnected()
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("Not Connected to QRZ Database"),
                                  QStringLiteral("Please Enter QRZ Username and Password.\nWhere:\n   Username is "
                                                 "the 'Station' Callsign.\n   Password is your QRZ Password\nData "
                                                 "is entered in the 'Station Details' menu item.\n"));
}

} // namespace

void Trelvin::createQrzClient()
{
    qrz = new QrzClient(networkManager, this);
    connect(qrz, &QrzClient::loginFinished, this, &Trelvin::displayConnectStatus);
    connect(qrz, &QrzClient::loginRefused, this, &Trelvin::showLoginRefused);
    connect(qrz, &QrzClient::subscription, this, &Trelvin::showSubscription);
    connect(qrz, &QrzClient::callRecord, this, &Trelvin::qrzRecordArrived);
    connect(qrz, &QrzClient::lookUpFailed, this, &Trelvin::qrzLookUpFailed);
    connect(qrz, &QrzClient::stationRecord, this, &Trelvin::showStationRecord);
    connect(qrz, &QrzClient::batchProgress, this, &Trelvin::showBatchProgress);
    connect(qrz, &QrzClient::batchRecord, this, &Trelvin::storeRosterRecord);
    connect(qrz, &QrzClient::batchFinished, this, &Trelvin::finishBatch);
    connect(qrz, &QrzClient::batchCancelled, this, &Trelvin::cancelledBatch);
    connect(qrz, &QrzClient::failure, this, &Trelvin::writeError);

    // HamQTH follows QRZ when QRZ is not connected or has no answer.
    hamqth = new HamQthClient(networkManager, this);
    connect(hamqth, &HamQthClient::callRecord, this, &Trelvin::showCallRecord);
    connect(hamqth, &HamQthClient::lookUpFailed, this, &Trelvin::showLookUpFailure);
    refineTimer = new QTimer(this);
    refineTimer->setSingleShot(true);
    refineTimer->setInterval(RefineDelayMs);
    connect(refineTimer, &QTimer::timeout, this, &Trelvin::refineLookUp);
}

void Trelvin::connectQRZ()
{
    if (!qrz->login(stationDialog->ui->call->text().toUpper(), stationDialog->ui->pwd->text())) {
        Prompter::instance()->message(Prompter::Information, QStringLiteral("QRZ XML Database Connection "),
                                      QStringLiteral("Connection to the QRZ XML Database\nrequires your Station Call "
                                                     "and QRZ Passwd.\nPlease enter Call and/or QRZ Passwd in\n"
                                                     "'Setup->Station Details'\nand then Click on 'Connect QRZ'."));
        writeError(QStringLiteral("Station Call or QRZ Passwd is missing."));
    }
}

void Trelvin::showLoginRefused(const QString &serviceError)
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("QRZ Login Error"),
                                  "Error: " + serviceError
                                      + ".\nWhere:\n   Username is the 'Station' Call.\n   Password is "
                                        "your QRZ Passwd\nData entered with the 'Station Details' menu "
                                        "item.\nPlease correct entries and try again.");
    writeError(QStringLiteral("Station Call or QRZ Passwd error connecting to QRZ database."));
}

void Trelvin::showSubscription(const QString &subExp)
{
    if (subExp != QLatin1String("non-subscriber")) {
        stationDialog->ui->expire->setText(Qrz::subscriptionExpiry(subExp));
        return;
    }
    stationDialog->ui->expire->setText(QStringLiteral("Unsubscribed"));
    Prompter::instance()->message(
        Prompter::Warning, QStringLiteral("Non QRZ XML Data Subscriber"),
        QStringLiteral("Warning: You are a Non-Subscriber to the QRZ XML Data.\nA subscription is "
                       "required to access a complete record.\nYou can only retrieve Call, First Name, "
                       "City, & State data\nand are limited to 100 Call Record retrievals a day.\n"));
}

void Trelvin::displayConnectStatus()
{
    QLineEdit *status = stationDialog->ui->connectStatus;
    if (qrz->isConnected()) {
        status->setPalette(goodPalette);
        status->setText(QStringLiteral("Connected"));
    } else {
        status->setPalette(alertPalette);
        status->setText(QStringLiteral("Disconnected"));
        writeError(QStringLiteral("QRZ Login Error or No Internet Connection."));
    }
}

// QRZ first where the operator has it; HamQTH when QRZ is not connected.
bool Trelvin::startLookUp(const QString &call, int use)
{
    lookUpCalls.insert(use, call);
    if (qrz->isConnected()) {
        qrz->lookUp(call, use);
        return true;
    }
    if (hamqth->isConfigured()) {
        hamqth->lookUp(call, use);
        return true;
    }
    return false;
}

void Trelvin::on_lookUpButton_clicked()
{
    const QString call = ui->call->text().toUpper();
    if (!qrz->isConnected() && !hamqth->isConfigured()) {
        warnNotConnected();
        return;
    }
    if (call.isEmpty())
        return;
    startLookUp(call, ForMainWindowToo);
}

void Trelvin::getContact()
{
    const QString call = contactDialog->ui->call->text().toUpper();
    if (!qrz->isConnected() && !hamqth->isConfigured()) {
        warnNotConnected();
        writeError(QStringLiteral("Not connected to QRZ Database."));
        return;
    }
    if (call.isEmpty())
        return;
    startLookUp(call, ForContactDialog);
}

void Trelvin::refineLookUp()
{
    const QString call = refineCall;
    refineCall.clear();
    // The operator has moved on to another station.
    if (call.isEmpty() || ui->call->text().trimmed().toUpper() != call)
        return;
    startLookUp(call, ForRefinement);
}

void Trelvin::qrzRecordArrived(const Qrz::CallRecord &record, int use)
{
    // A call QRZ does not give (unknown there, or the daily limit reached)
    // is asked of HamQTH next, when the operator has an account there.
    if (!record.error.isEmpty() && hamqth->isConfigured() && lookUpCalls.contains(use)) {
        writeError("QRZ look-up of " + lookUpCalls.value(use) + ": " + record.error + "; asking HamQTH.");
        hamqth->lookUp(lookUpCalls.value(use), use);
        return;
    }
    showCallRecord(record, use);
}

void Trelvin::qrzLookUpFailed(const QString &text, int use, bool unreadable)
{
    if (hamqth->isConfigured() && lookUpCalls.contains(use)) {
        writeError(text + "; asking HamQTH.");
        hamqth->lookUp(lookUpCalls.value(use), use);
        return;
    }
    showLookUpFailure(text, use, unreadable);
}

void Trelvin::showCallRecord(const Qrz::CallRecord &record, int use)
{
    Ui::Contact *dialog = contactDialog->ui;
    if (use == ForRefinement) {
        // Only a record of the station still shown refines it; a call the
        // service does not know leaves the call book's record as it is.
        if (!record.error.isEmpty() || record.call.isEmpty()
            || ui->call->text().trimmed().toUpper() != record.call
            || dialog->call->text().trimmed().toUpper() != record.call)
            return;
    }
    offer(dialog->fname, record.fname);
    offer(dialog->name, record.last);
    offer(dialog->classlic, record.licenceClass);
    offer(dialog->expire, record.expire);
    offer(dialog->addr, record.address);
    offer(dialog->city, record.city);
    offer(dialog->state, record.state);
    offer(dialog->zip, record.zip);
    offer(dialog->country, record.country);
    // Non-subscribers get no e-mail; one typed in earlier stays.
    if (!record.email.isEmpty())
        offer(dialog->email, record.email);
    // A service without a position keeps the call book's ZIP centre.
    if (use != ForRefinement || (!record.lat.isEmpty() && !record.lon.isEmpty())) {
        offer(dialog->lat, record.lat);
        offer(dialog->lon, record.lon);
        offer(dialog->grid, record.grid);
        offer(dialog->geoloc, record.source);
    }
    offer(dialog->utc, record.utc);
    contactUtcOffset = dialog->utc->text().toInt();
    dialog->tzOffset->setText(QStringLiteral("%1").arg(contactUtcOffset - stationUtcOffset, 2));
    offer(dialog->dst, record.dst);
    offer(dialog->born, record.born);

    if (use == ForContactDialog)
        return;
    if (!record.error.isEmpty()) {
        showRejectedLookUp(record.error);
        return;
    }
    ui->city->setPalette(goodPalette);
    setClipped(ui->call, record.call);
    offer(ui->name, record.fname);
    offer(ui->city, record.city);
    {
        const QSignalBlocker blocker(ui->state);
        offer(ui->state, record.state);
    }
    on_state_textChanged(ui->state->text());
}

void Trelvin::showLookUpFailure(const QString &text, int use, bool unreadable)
{
    // A refinement leaves the call book's record; the reason is logged.
    if (use == ForRefinement) {
        writeError(text);
        return;
    }
    // Something answered in the service's place (a captive portal's or a
    // proxy's page): nothing was learnt of the call, so the forms stay as
    // they are, and the operator reads why where the eye goes.
    if (unreadable) {
        writeError(text);
        ui->statusbar->showMessage(text, StatusMessageMs);
        return;
    }
    // The Contact dialog keeps what it shows.
    if (use != ForMainWindowToo)
        return;
    // A failed request shows like a rejected call: the record of an earlier
    // look-up must not pass for this one. The short field takes a short
    // notice; the reason goes to the error log.
    writeError(text);
    showRejectedLookUp(QStringLiteral("No answer from QRZ"));
}

void Trelvin::showRejectedLookUp(const QString &notice)
{
    ui->city->setPalette(alertPalette);
    ui->call->setText(ui->search->text().toUpper());
    ui->name->clear();
    setClipped(ui->city, notice);
    ui->state->clear();
}

void Trelvin::getStation()
{
    if (!qrz->isConnected()) {
        warnNotConnected();
        return;
    }
    qrz->lookUpStation(stationDialog->ui->call->text().toUpper());
}

void Trelvin::showStationRecord(const Qrz::StationRecord &record)
{
    Ui::Station *dialog = stationDialog->ui;
    setClipped(dialog->call, record.call);
    setClipped(dialog->state, record.state);
    setClipped(dialog->lat, record.lat);
    setClipped(dialog->lon, record.lon);
    setClipped(dialog->grid, record.grid);
    setClipped(dialog->utc, record.utc);
    setClipped(dialog->dst, record.dst);
    stationUtcOffset = dialog->utc->text().toInt();
}

void Trelvin::saveStation()
{
    Ui::Station *dialog = stationDialog->ui;
    const QString state = dialog->state->text().toUpper();
    // Without a position the centre of the state stands in for it.
    if ((dialog->lat->text().isEmpty() || dialog->lon->text().isEmpty()) && !state.isEmpty()) {
        if (const std::optional<Coordinates> centre = storage.stateCentre(state)) {
            dialog->lat->setText(coordinateText(centre->lat));
            dialog->lon->setText(coordinateText(centre->lon));
        }
    }
    // The password goes to the keyring; the row keeps it only when no
    // keyring takes it (passwordWritten).
    const QString call = dialog->call->text().toUpper();
    const std::optional<StationRecord> before = storage.contacts().station();
    stored(storage.contacts().saveStation({call, before ? before->passwd : QStringLiteral(""), state, dialog->lat->text(),
                                dialog->lon->text(), dialog->grid->text(), dialog->utc->text(),
                                dialog->dst->text()}),
           QStringLiteral("Saving station details"));
    // An empty field while the keyring has not answered yet is no change.
    if (!(qrzPasswordPending && dialog->pwd->text().isEmpty() && qrzSecretKey(call) == qrzPasswordKey)) {
        qrzPasswordPending = false;
        qrzPasswordKey = qrzSecretKey(call);
        secrets->write(qrzPasswordKey, dialog->pwd->text());
    }
    // The HamQTH account is the operator's, not the station's: it is kept
    // with the settings, at once.
    const QString hamQthUser = dialog->hamqthUser->text().trimmed();
    QString hamQthPassword = dialog->hamqthPwd->text();
    const bool hamQthWaits = hamQthPasswordPending && hamQthPassword.isEmpty() && hamQthUser == hamqth->user();
    if (hamQthWaits)
        hamQthPassword = hamqth->password();
    hamqth->setCredentials(hamQthUser, hamQthPassword);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    settings.setValue(Trel::Key::HamQthUser, hamqth->user());
    if (!hamQthWaits) {
        hamQthPasswordPending = false;
        hamQthPasswordKey = hamQthSecretKey(hamQthUser);
        secrets->write(hamQthPasswordKey, hamQthPassword);
    }
}

void Trelvin::setStationDetails()
{
    Ui::Station *dialog = stationDialog->ui;
    setClipped(dialog->hamqthUser, hamqth->user());
    setClipped(dialog->hamqthPwd, hamqth->password());
    const QList<QLineEdit *> fields{dialog->call, dialog->pwd, dialog->state, dialog->lat,
                                    dialog->lon,  dialog->grid, dialog->utc,  dialog->dst};
    const std::optional<StationRecord> station = storage.contacts().station();
    if (!station) {
        for (QLineEdit *field : fields)
            field->clear();
        fetchQrzPassword({});
        return;
    }
    const QStringList row{station->call, station->passwd, station->state, station->lat,
                          station->lon,  station->grid,   station->utc,   station->dst};
    for (int i = 0; i < fields.size(); ++i)
        setClipped(fields.at(i), row.value(i));
    stationUtcOffset = dialog->utc->text().toInt();
    fetchQrzPassword(*station);
}

void Trelvin::on_actionQRZClubData_triggered()
{
    Prompter *prompter = Prompter::instance();
    if (!qrz->isConnected()) {
        warnNotConnected();
        return;
    }
    // The action is off while a run goes; a second run would empty the
    // roster under the first.
    if (qrz->batchRunning() || refuseBulkJob())
        return;
    if (prompter->message(Prompter::Warning, QStringLiteral("Warning: Long Process Ahead"),
                          QStringLiteral("This Process can take a while.  Only do this as neccessary.\nDepending on "
                                         "computer, this can take from 20 to 200+ Seconds per 100 callsigns."),
                          QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;

    // What a cancelled run puts back.
    batchPreviousMembers = storage.roster().memberCalls();
    recreateMembers();
    const QStringList calls = readCallsignList();
    if (calls.isEmpty()) {
        // The roster is empty now; an open roster report must not show the old one.
        if (rosterWindow->isVisible())
            showRoster();
        return;
    }

    beginBulkJob(QStringLiteral("The roster's QRZ run"), QStringLiteral("Extracting QRZ Member Data..."),
                 QStringLiteral("Stop the QRZ run; the roster is put back as it was"), [this] { qrz->cancelBatch(); },
                 int(calls.size()));
    ui->actionQRZClubData->setEnabled(false);
    qrz->runBatch(calls);
}

QStringList Trelvin::readCallsignList()
{
    Prompter *prompter = Prompter::instance();
    const QString name = prompter->openFileName(QStringLiteral("Open Member Callsign List File"), dataDir.path(),
                                                QStringLiteral("Calls (Roster*.csv Callsign*.csv);;All Files (*.*)"));
    if (name.isEmpty())
        return {};

    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        prompter->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                          QStringLiteral("The File you selected could not be Opened."));
        writeError("File '" + name + "' Could not be Opened.");
        return {};
    }

    QStringList calls;
    // A call listed again, in any case, would be asked for and made a member twice.
    QSet<QString> named;
    qint64 repeats = 0;
    file.readLine();
    QList<QString> fields;
    while (!file.atEnd()) {
        processLine(file, fields);
        // A blank line names no station; asking QRZ for it only costs a request.
        if (fields.isEmpty() || fields.first().isEmpty())
            continue;
        const QString key = fields.first().toUpper();
        if (named.contains(key)) {
            ++repeats;
            continue;
        }
        named.insert(key);
        calls.append(fields.first());
    }
    if (repeats > 0)
        writeError(QStringLiteral("Callsign list '%1' names a call sign again on %2 lines; they were skipped.")
                       .arg(name)
                       .arg(repeats));
    return calls;
}

void Trelvin::showBatchProgress(int done)
{
    bulkJob->setProgress(done, QStringLiteral("Extracting QRZ Member Data..."));
}

void Trelvin::cancelledBatch(int done)
{
    bulkJob->end();
    ui->actionQRZClubData->setEnabled(true);
    // The records already taken stay with their contacts: they are what QRZ
    // holds, and the operator's own fields won over them.
    stored(storage.roster().setMembers(batchPreviousMembers), QStringLiteral("Restoring the club roster"));
    batchPreviousMembers.clear();
    ui->statusbar->showMessage(QStringLiteral("QRZ run cancelled after %1 calls; the roster was put back as it was.")
                                   .arg(done),
                               StatusMessageMs);
    if (rosterWindow->isVisible())
        showRoster();
}

void Trelvin::finishBatch(int total)
{
    bulkJob->end();
    stored(storage.journal().journalRoster(batchPreviousMembers), QStringLiteral("Journalling the club roster"));
    batchPreviousMembers.clear();
    ui->statusbar->clearMessage();
    ui->callsigns->setText(QString::number(total));
    if (rosterWindow->isVisible())
        showRoster();
    if (contactsWindow->isVisible())
        showContacts();
    ui->actionQRZClubData->setEnabled(true);
}

void Trelvin::storeRosterRecord(const Qrz::CallRecord &record)
{
    // The roster holds the call as QRZ spells it; what the operator stored
    // wins over QRZ field by field, the licence data always comes from QRZ.
    ContactRecord contact;
    contact.call = record.call;
    contact.name = record.fname;
    contact.last = record.last;
    contact.licenceClass = record.licenceClass;
    contact.expire = record.expire;
    contact.address = record.address;
    contact.city = record.city;
    contact.state = record.state;
    contact.zip = record.zip;
    contact.country = record.country;
    contact.email = record.email;
    contact.phone = record.phone;
    contact.lat = record.lat;
    contact.lon = record.lon;
    contact.grid = record.grid;
    contact.source = record.source;
    contact.utc = record.utc;
    contact.dst = record.dst;
    contact.born = record.born;
    stored(storage.roster().storeLookedUpMember(contact), "Storing QRZ data of " + record.call);
}
