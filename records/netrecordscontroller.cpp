#include "records/netrecordscontroller.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "data/storage.h"
#include "files/filewriting.h"
#include "records/adif.h"
#include "records/ics309.h"
#include "records/netdetails.h"
#include "records/utc.h"
#include "reports/reportlines.h"

#include <QBuffer>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>

namespace {
const char AdifFilter[] = "ADIF Files (*.adi);;All Files (*.*)";
const char PdfFilter[] = "PDF Files (*.pdf);;All Files (*.*)";
// As long as the window's other status-bar notes.
} // namespace

NetRecordsController::NetRecordsController(const Widgets &widgets, Storage &store, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), host(std::move(hooks))
{
}

void NetRecordsController::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Main);
    netBand = settings.value(Trel::Key::NetBand, QString()).toString();
    netMode = settings.value(Trel::Key::NetMode, QString()).toString();
    netFrequency = settings.value(Trel::Key::NetFrequency, QString()).toString();
}

void NetRecordsController::writeSettings(QSettings &settings) const
{
    settings.setValue(Trel::Key::NetBand, netBand);
    settings.setValue(Trel::Key::NetMode, netMode);
    settings.setValue(Trel::Key::NetFrequency, netFrequency);
}

void NetRecordsController::reportUnwritable(const QString &fileName, const QString &reason)
{
    emit errorLine(reportUnwritableFile(fileName, reason));
}

void NetRecordsController::editNetDetails()
{
    if (!detailsDialog) {
        detailsDialog = new NetDetails(w.window);
        connect(detailsDialog, &QDialog::accepted, this, [this] {
            netBand = detailsDialog->band();
            netMode = detailsDialog->mode();
            netFrequency = detailsDialog->frequency();
        });
    }
    // A window does not take its parent's colours by itself.
    detailsDialog->setPalette(w.window->palette());
    detailsDialog->setValues(netBand, netMode, netFrequency);
    detailsDialog->open();
}

// ---- The net of the net-log selection as ADIF and ICS-309.

std::optional<NetRecord> NetRecordsController::selectedNet(const QString &what)
{
    const std::optional<QString> begin = ReportLines::acceptedClock(w.beginTime->text());
    const std::optional<QString> end = ReportLines::acceptedClock(w.endTime->text());
    if (!begin || !end) {
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("Net Not Selected"),
            QStringLiteral("The Net Log Select times must be HH:MM.\nNo %1 was written.").arg(what));
        return std::nullopt;
    }
    const int year = w.year->value();
    const int month = w.month->value();
    const int day = w.day->value();
    Storage::Result failure;
    const QList<NetLogStore::LoggedCheckIn> rows =
        storage.netLog().netCheckIns(ReportLines::datePattern(year, month, day), *begin + QStringLiteral(":00"),
                                     *end + QStringLiteral(":00"), &failure);
    if (!failure.ok()) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Read Failed"),
                                      QStringLiteral("The net log could not be read.\nNo %1 was written.").arg(what));
        emit errorLine("Reading the net log for the " + what + " failed: " + failure.error);
        return std::nullopt;
    }
    if (rows.isEmpty()) {
        Prompter::instance()->message(
            Prompter::Information, QStringLiteral("Empty Net"),
            QStringLiteral("No check-ins were logged on %1 between %2 and %3.\nNo %4 was written.")
                .arg(ReportLines::titleDate(month, day, year).remove(QLatin1Char(' ')), *begin, *end, what));
        return std::nullopt;
    }

    NetRecord net;
    net.club = host.club();
    if (const std::optional<StationRecord> station = storage.contacts().station())
        net.stationCall = station->call.toUpper();
    net.band = netBand;
    net.mode = netMode;
    net.frequency = netFrequency;
    for (const NetLogStore::LoggedCheckIn &row : rows) {
        NetCheckIn checkIn;
        checkIn.date = row.log.date;
        checkIn.time = row.log.time;
        checkIn.role = row.log.status;
        checkIn.call = row.log.call;
        checkIn.name = row.log.name;
        checkIn.city = row.log.city;
        checkIn.state = row.log.state;
        checkIn.comment = row.log.comment;
        checkIn.grid = row.grid;
        checkIn.utc = Utc::fromStored(row.log.date, row.log.time);
        net.checkIns << checkIn;
    }
    return net;
}

QString NetRecordsController::proposedNetFile(const QString &suffix) const
{
    return host.dataDir() + QLatin1Char('/')
           + NetRecords::fileBaseName(host.club(), w.year->value(), w.month->value(), w.day->value()) + suffix;
}

void NetRecordsController::saveAdif()
{
    const std::optional<NetRecord> net = selectedNet(QStringLiteral("ADIF file"));
    if (!net)
        return;
    const QString name = Prompter::instance()->saveFileName(
        QStringLiteral("Save Net ADIF File"), proposedNetFile(QStringLiteral(".adi")), QString::fromLatin1(AdifFilter));
    if (name.isEmpty())
        return;

    const QDateTime now = host.clockNow();
    Adif::Header header{QString::fromLatin1(Trel::Version), now,
                        QStringLiteral("Times are UTC, converted from the local time of the log (")
                            + Utc::localZoneLabel(net->checkIns.first().utc) + QStringLiteral(").")};
    QList<Adif::Qso> qsos;
    for (const NetCheckIn &checkIn : net->checkIns) {
        if (!checkIn.utc.isValid()) {
            emit errorLine("ADIF: the check-in of " + checkIn.call + " on '" + checkIn.date + "' at '" + checkIn.time
                           + "' has no readable date or time; it was left out.");
            continue;
        }
        qsos << Adif::Qso{checkIn.call, checkIn.utc,     net->stationCall,
                          checkIn.name, checkIn.city,    checkIn.state,
                          checkIn.grid, checkIn.comment, NetRecords::roleWord(checkIn.role),
                          net->band,    net->mode,       net->frequency};
    }
    const Adif::Written written = Adif::write(header, qsos);
    for (const QString &note : written.notes)
        emit errorLine("ADIF is ASCII only: " + note + " in '" + name + "'.");
    QString error;
    if (!writeWholeFile(name, written.text, error)) {
        reportUnwritable(name, error);
        return;
    }
    qCDebug(lcRecords).noquote().nospace() << "ADIF: " << qsos.size() << " of " << net->checkIns.size()
                                           << " check-ins, " << written.notes.size() << " notes, to " << name;
    w.statusBar->showMessage(QStringLiteral("%1 check-ins written to %2").arg(qsos.size()).arg(name),
                             Trel::StatusMessageMs);
}

void NetRecordsController::saveIcs309()
{
    const std::optional<NetRecord> net = selectedNet(QStringLiteral("ICS-309"));
    if (!net)
        return;
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save ICS-309 Communications Log"),
                                                            proposedNetFile(QStringLiteral("-ICS309.pdf")),
                                                            QString::fromLatin1(PdfFilter));
    if (name.isEmpty())
        return;
    const Ics309::Form form = Ics309::fromNet(*net, host.clockNow(), Utc::localZoneLabel(net->checkIns.first().utc));

    // The rows as CSV beside the PDF, for the agencies that take a table.
    QString csvName = name;
    if (csvName.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        csvName.chop(4);
    csvName += QStringLiteral(".csv");

    // Neither file is written when either name is refused.
    for (const QString &target : {name, csvName}) {
        const QString refused = unsaveableTarget(target);
        if (!refused.isEmpty()) {
            reportUnwritable(target, refused);
            return;
        }
    }
    // Drawn in memory first: the PDF writer does not look at what its
    // writes return, so a short write to the file would pass unseen.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    const int pages = Ics309::writePdf(form, &pdf);
    pdf.close();
    QString error = pages == 0 ? QStringLiteral("the form could not be drawn") : QString();
    if (pages == 0 || !writeWholeFile(name, pdf.data(), error)) {
        reportUnwritable(name, error);
        return;
    }
    if (!writeWholeFile(csvName, Ics309::csv(form), error)) {
        reportUnwritable(csvName, error);
        return;
    }
    qCDebug(lcRecords).noquote().nospace()
        << "ICS-309: " << form.rows.size() << " rows on " << pages << " pages, to " << name;
    w.statusBar->showMessage(
        QStringLiteral("ICS-309 of %1 check-ins on %2 pages written to %3").arg(form.rows.size()).arg(pages).arg(name),
        Trel::StatusMessageMs);
}
