#include "lookup/lookupcontroller.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "checkin/textrules.h"
#include "data/csv.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "jobs/bulkjob.h"
#include "lookup/hamqthclient.h"
#include "lookup/qrzclient.h"
#include "secrets/secretstore.h"
#include "ui_contact.h"
#include "ui_station.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QSet>
#include <QSettings>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>

// The forms' side of the QRZ and HamQTH clients: it reads the forms, starts
// the clients' requests and shows what comes back.

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
// As long as the window's other status-bar notes.

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

LookupController::LookupController(const Widgets &widgets, Storage &store, BulkJob *job, QNetworkAccessManager *network,
                                   SecretStore *secretStore, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), bulkJob(job), secrets(secretStore), host(std::move(hooks))
{
    qrz = new QrzClient(network, this);
    connect(qrz, &QrzClient::loginFinished, this, &LookupController::displayConnectStatus);
    connect(qrz, &QrzClient::loginRefused, this, &LookupController::showLoginRefused);
    connect(qrz, &QrzClient::subscription, this, &LookupController::showSubscription);
    connect(qrz, &QrzClient::callRecord, this, &LookupController::qrzRecordArrived);
    connect(qrz, &QrzClient::lookUpFailed, this, &LookupController::qrzLookUpFailed);
    connect(qrz, &QrzClient::stationRecord, this, &LookupController::showStationRecord);
    connect(qrz, &QrzClient::batchProgress, this, &LookupController::showBatchProgress);
    connect(qrz, &QrzClient::batchRecord, this, &LookupController::storeRosterRecord);
    connect(qrz, &QrzClient::batchFinished, this, &LookupController::finishBatch);
    connect(qrz, &QrzClient::batchCancelled, this, &LookupController::cancelledBatch);
    connect(qrz, &QrzClient::failure, this, &LookupController::errorLine);

    // HamQTH follows QRZ when QRZ is not connected or has no answer.
    hamqth = new HamQthClient(network, this);
    connect(hamqth, &HamQthClient::callRecord, this, [this](const Qrz::CallRecord &record, int use) {
        qCDebug(lcLookup) << "HamQTH answered for" << record.call << "use" << use << record.error;
        showCallRecord(record, use);
    });
    connect(hamqth, &HamQthClient::lookUpFailed, this, &LookupController::showLookUpFailure);
    refineTimer = new QTimer(this);
    refineTimer->setSingleShot(true);
    refineTimer->setInterval(RefineDelayMs);
    connect(refineTimer, &QTimer::timeout, this, &LookupController::refineLookUp);

    connect(secrets, &SecretStore::readFinished, this, &LookupController::passwordRead);
    connect(secrets, &SecretStore::writeFinished, this, &LookupController::passwordWritten);
}

void LookupController::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    // Credentials go to the QRZ service, so the default is encrypted.
    qrz->setServer(settings.value(Trel::Key::QrzServer, QStringLiteral("https://xmldata.qrz.com")).toString());
    hamqth->setServer(settings.value(Trel::Key::HamQthServer, QStringLiteral("https://www.hamqth.com")).toString());
    // A password here is an older copy's, or one no keyring took: once the
    // data directory is ours, the keyring is offered it again.
    hamqth->setCredentials(settings.value(Trel::Key::HamQthUser).toString(),
                           settings.value(Trel::Key::HamQthPassword).toString());
    hamQthPasswordInFile = !hamqth->password().isEmpty();
}

void LookupController::writeSettings(QSettings &settings) const
{
    settings.setValue(Trel::Key::QrzServer, qrz->server());
    settings.setValue(Trel::Key::HamQthServer, hamqth->server());
    settings.setValue(Trel::Key::HamQthUser, hamqth->user());
    settings.setValue(Trel::Key::HamQthPassword, hamQthPasswordInFile ? hamqth->password() : QString());
}

void LookupController::refineSoon(const QString &call)
{
    refineCall = call;
    refineTimer->start();
}

void LookupController::cancelRefinement()
{
    refineTimer->stop();
    refineCall.clear();
}

bool LookupController::refinementPending() const
{
    return refineTimer->isActive();
}

void LookupController::loginAtStart()
{
    // A password still to come from the keyring logs in when it comes.
    if (qrzPasswordPending)
        qrzLoginOnPassword = true;
    else
        connectQrz();
}

void LookupController::retryLogin()
{
    if (!w.station->ui->call->text().isEmpty() && !w.station->ui->pwd->text().isEmpty())
        connectQrz();
}

void LookupController::connectQrz()
{
    if (!qrz->login(w.station->ui->call->text().toUpper(), w.station->ui->pwd->text())) {
        Prompter::instance()->message(Prompter::Information, QStringLiteral("QRZ XML Database Connection "),
                                      QStringLiteral("Connection to the QRZ XML Database\nrequires your Station Call "
                                                     "and QRZ Passwd.\nPlease enter Call and/or QRZ Passwd in\n"
                                                     "'Setup->Station Details'\nand then Click on 'Connect QRZ'."));
        emit errorLine(QStringLiteral("Station Call or QRZ Passwd is missing."));
    }
}

void LookupController::showLoginRefused(const QString &serviceError)
{
    Prompter::instance()->message(Prompter::Warning, QStringLiteral("QRZ Login Error"),
                                  "Error: " + serviceError
                                      + ".\nWhere:\n   Username is the 'Station' Call.\n   Password is "
                                        "your QRZ Passwd\nData entered with the 'Station Details' menu "
                                        "item.\nPlease correct entries and try again.");
    emit errorLine(QStringLiteral("Station Call or QRZ Passwd error connecting to QRZ database."));
}

void LookupController::showSubscription(const QString &subExp)
{
    if (subExp != QLatin1String("non-subscriber")) {
        w.station->ui->expire->setText(Qrz::subscriptionExpiry(subExp));
        return;
    }
    w.station->ui->expire->setText(QStringLiteral("Unsubscribed"));
    Prompter::instance()->message(
        Prompter::Warning, QStringLiteral("Non QRZ XML Data Subscriber"),
        QStringLiteral("Warning: You are a Non-Subscriber to the QRZ XML Data.\nA subscription is "
                       "required to access a complete record.\nYou can only retrieve Call, First Name, "
                       "City, & State data\nand are limited to 100 Call Record retrievals a day.\n"));
}

void LookupController::displayConnectStatus()
{
    QLineEdit *status = w.station->ui->connectStatus;
    if (qrz->isConnected()) {
        status->setPalette(host.goodPalette());
        status->setText(QStringLiteral("Connected"));
    } else {
        status->setPalette(host.alertPalette());
        status->setText(QStringLiteral("Disconnected"));
        emit errorLine(QStringLiteral("QRZ Login Error or No Internet Connection."));
    }
}

// QRZ first where the operator has it; HamQTH when QRZ is not connected.
bool LookupController::startLookUp(const QString &call, int use)
{
    lookUpCalls.insert(use, call);
    if (qrz->isConnected()) {
        qCDebug(lcLookup) << "look-up of" << call << "sent to QRZ, use" << use;
        qrz->lookUp(call, use);
        return true;
    }
    if (hamqth->isConfigured()) {
        qCDebug(lcLookup) << "look-up of" << call << "sent to HamQTH, use" << use;
        hamqth->lookUp(call, use);
        return true;
    }
    return false;
}

void LookupController::lookUpEntry()
{
    const QString call = w.call->text().toUpper();
    if (!qrz->isConnected() && !hamqth->isConfigured()) {
        warnNotConnected();
        return;
    }
    if (call.isEmpty())
        return;
    startLookUp(call, ForMainWindowToo);
}

void LookupController::getContact()
{
    const QString call = w.contact->ui->call->text().toUpper();
    if (!qrz->isConnected() && !hamqth->isConfigured()) {
        warnNotConnected();
        emit errorLine(QStringLiteral("Not connected to QRZ Database."));
        return;
    }
    if (call.isEmpty())
        return;
    startLookUp(call, ForContactDialog);
}

void LookupController::refineLookUp()
{
    const QString call = refineCall;
    refineCall.clear();
    // The operator has moved on to another station.
    if (call.isEmpty() || w.call->text().trimmed().toUpper() != call)
        return;
    startLookUp(call, ForRefinement);
}

void LookupController::qrzRecordArrived(const Qrz::CallRecord &record, int use)
{
    // A call QRZ does not give (unknown there, or the daily limit reached)
    // is asked of HamQTH next, when the operator has an account there.
    qCDebug(lcLookup) << "QRZ answered for" << record.call << "use" << use << record.error;
    if (!record.error.isEmpty() && hamqth->isConfigured() && lookUpCalls.contains(use)) {
        qCDebug(lcLookup) << "falling back to HamQTH for" << lookUpCalls.value(use);
        emit errorLine("QRZ look-up of " + lookUpCalls.value(use) + ": " + record.error + "; asking HamQTH.");
        hamqth->lookUp(lookUpCalls.value(use), use);
        return;
    }
    showCallRecord(record, use);
}

void LookupController::qrzLookUpFailed(const QString &text, int use, bool unreadable)
{
    if (hamqth->isConfigured() && lookUpCalls.contains(use)) {
        qCDebug(lcLookup) << "QRZ failed, falling back to HamQTH for" << lookUpCalls.value(use);
        emit errorLine(text + "; asking HamQTH.");
        hamqth->lookUp(lookUpCalls.value(use), use);
        return;
    }
    showLookUpFailure(text, use, unreadable);
}

void LookupController::showCallRecord(const Qrz::CallRecord &record, int use)
{
    Ui::Contact *dialog = w.contact->ui;
    if (use == ForRefinement) {
        // Only a record of the station still shown refines it; a call the
        // service does not know leaves the call book's record as it is.
        if (!record.error.isEmpty() || record.call.isEmpty() || w.call->text().trimmed().toUpper() != record.call
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
    const int contactOffset = dialog->utc->text().toInt();
    dialog->tzOffset->setText(QStringLiteral("%1").arg(contactOffset - stationOffset, 2));
    offer(dialog->dst, record.dst);
    offer(dialog->born, record.born);

    if (use == ForContactDialog)
        return;
    if (!record.error.isEmpty()) {
        showRejectedLookUp(record.error);
        return;
    }
    w.city->setPalette(host.goodPalette());
    setClipped(w.call, record.call);
    offer(w.name, record.fname);
    offer(w.city, record.city);
    {
        const QSignalBlocker blocker(w.state);
        offer(w.state, record.state);
    }
    emit entryStateShown(w.state->text());
}

void LookupController::showLookUpFailure(const QString &text, int use, bool unreadable)
{
    // A refinement leaves the call book's record; the reason is logged.
    if (use == ForRefinement) {
        emit errorLine(text);
        return;
    }
    // Something answered in the service's place (a captive portal's or a
    // proxy's page): nothing was learnt of the call, so the forms stay as
    // they are, and the operator reads why where the eye goes.
    if (unreadable) {
        emit errorLine(text);
        w.statusBar->showMessage(text, Trel::StatusMessageMs);
        return;
    }
    // The Contact dialog keeps what it shows.
    if (use != ForMainWindowToo)
        return;
    // A failed request shows like a rejected call: the record of an earlier
    // look-up must not pass for this one. The short field takes a short
    // notice; the reason goes to the error log.
    emit errorLine(text);
    showRejectedLookUp(QStringLiteral("No answer from QRZ"));
}

void LookupController::showRejectedLookUp(const QString &notice)
{
    w.city->setPalette(host.alertPalette());
    w.call->setText(w.search->text().toUpper());
    w.name->clear();
    setClipped(w.city, notice);
    w.state->clear();
}

void LookupController::getStation()
{
    if (!qrz->isConnected()) {
        warnNotConnected();
        return;
    }
    qrz->lookUpStation(w.station->ui->call->text().toUpper());
}

void LookupController::showStationRecord(const Qrz::StationRecord &record)
{
    Ui::Station *dialog = w.station->ui;
    setClipped(dialog->call, record.call);
    setClipped(dialog->state, record.state);
    setClipped(dialog->lat, record.lat);
    setClipped(dialog->lon, record.lon);
    setClipped(dialog->grid, record.grid);
    setClipped(dialog->utc, record.utc);
    setClipped(dialog->dst, record.dst);
    stationOffset = dialog->utc->text().toInt();
}

void LookupController::saveStation()
{
    Ui::Station *dialog = w.station->ui;
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
    host.stored(storage.contacts().saveStation({call, before ? before->passwd : QStringLiteral(""), state,
                                                dialog->lat->text(), dialog->lon->text(), dialog->grid->text(),
                                                dialog->utc->text(), dialog->dst->text()}),
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

void LookupController::showStationDetails()
{
    Ui::Station *dialog = w.station->ui;
    setClipped(dialog->hamqthUser, hamqth->user());
    setClipped(dialog->hamqthPwd, hamqth->password());
    const QList<QLineEdit *> fields{dialog->call, dialog->pwd,  dialog->state, dialog->lat,
                                    dialog->lon,  dialog->grid, dialog->utc,   dialog->dst};
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
    stationOffset = dialog->utc->text().toInt();
    fetchQrzPassword(*station);
}

void LookupController::runRoster()
{
    Prompter *prompter = Prompter::instance();
    if (!qrz->isConnected()) {
        warnNotConnected();
        return;
    }
    // The action is off while a run goes; a second run would empty the
    // roster under the first.
    if (qrz->batchRunning() || host.refuseBulkJob())
        return;
    if (prompter->message(Prompter::Warning, QStringLiteral("Warning: Long Process Ahead"),
                          QStringLiteral("This Process can take a while.  Only do this as neccessary.\nDepending on "
                                         "computer, this can take from 20 to 200+ Seconds per 100 callsigns."),
                          QMessageBox::Ok | QMessageBox::Cancel)
        != QMessageBox::Ok)
        return;

    // What a cancelled run puts back.
    batchPreviousMembers = storage.roster().memberCalls();
    host.recreateMembers();
    const QStringList calls = readCallsignList();
    if (calls.isEmpty()) {
        // The roster is empty now; an open roster report must not show the old one.
        emit rosterChanged();
        return;
    }

    host.beginBulkJob(
        QStringLiteral("The roster's QRZ run"), QStringLiteral("Extracting QRZ Member Data..."),
        QStringLiteral("Stop the QRZ run; the roster is put back as it was"), [this] { qrz->cancelBatch(); },
        int(calls.size()));
    w.rosterRun->setEnabled(false);
    qrz->runBatch(calls);
}

QStringList LookupController::readCallsignList()
{
    Prompter *prompter = Prompter::instance();
    const QString name = prompter->openFileName(QStringLiteral("Open Member Callsign List File"), host.dataDir(),
                                                QStringLiteral("Calls (Roster*.csv Callsign*.csv);;All Files (*.*)"));
    if (name.isEmpty())
        return {};

    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        prompter->message(Prompter::Critical, QStringLiteral("Can't Open File"),
                          QStringLiteral("The File you selected could not be Opened."));
        emit errorLine("File '" + name + "' Could not be Opened.");
        return {};
    }

    QStringList calls;
    // A call listed again, in any case, would be asked for and made a member twice.
    QSet<QString> named;
    qint64 repeats = 0;
    file.readLine();
    QList<QString> fields;
    while (!file.atEnd()) {
        fields = splitCsvLine(QString::fromUtf8(file.readLine()));
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
        emit errorLine(QStringLiteral("Callsign list '%1' names a call sign again on %2 lines; they were skipped.")
                           .arg(name)
                           .arg(repeats));
    return calls;
}

void LookupController::showBatchProgress(int done)
{
    bulkJob->setProgress(done, QStringLiteral("Extracting QRZ Member Data..."));
}

void LookupController::cancelledBatch(int done)
{
    bulkJob->end();
    w.rosterRun->setEnabled(true);
    // The records already taken stay with their contacts: they are what QRZ
    // holds, and the operator's own fields won over them.
    host.stored(storage.roster().setMembers(batchPreviousMembers), QStringLiteral("Restoring the club roster"));
    batchPreviousMembers.clear();
    w.statusBar->showMessage(
        QStringLiteral("QRZ run cancelled after %1 calls; the roster was put back as it was.").arg(done),
        Trel::StatusMessageMs);
    emit rosterChanged();
}

void LookupController::finishBatch(int total)
{
    bulkJob->end();
    host.stored(storage.journal().journalRoster(batchPreviousMembers), QStringLiteral("Journalling the club roster"));
    batchPreviousMembers.clear();
    w.statusBar->clearMessage();
    w.callsigns->setText(QString::number(total));
    emit rosterChanged();
    emit contactsChanged();
    w.rosterRun->setEnabled(true);
}

void LookupController::storeRosterRecord(const Qrz::CallRecord &record)
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
    host.stored(storage.roster().storeLookedUpMember(contact), "Storing QRZ data of " + record.call);
}
