#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "files/filewriting.h"
#include "checkin/netrules.h"
#include "records/adif.h"
#include "records/ics309.h"
#include "records/netdetails.h"
#include "records/utc.h"
#include "reports/reportlines.h"
#include "ui_trelvin.h"

#include <QBuffer>
#include <QLabel>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>

namespace {
const char AdifFilter[] = "ADIF Files (*.adi);;All Files (*.*)";
const char PdfFilter[] = "PDF Files (*.pdf);;All Files (*.*)";
} // namespace

void Trelvin::readRecordSettings(QSettings &settings)
{
    netBand = settings.value(Trel::Key::NetBand, QString()).toString();
    netMode = settings.value(Trel::Key::NetMode, QString()).toString();
    netFrequency = settings.value(Trel::Key::NetFrequency, QString()).toString();
}

void Trelvin::writeRecordSettings(QSettings &settings)
{
    settings.setValue(Trel::Key::NetBand, netBand);
    settings.setValue(Trel::Key::NetMode, netMode);
    settings.setValue(Trel::Key::NetFrequency, netFrequency);
}

void Trelvin::on_actionNetDetails_triggered()
{
    if (!netDetailsDialog) {
        netDetailsDialog = new NetDetails(this);
        connect(netDetailsDialog, &QDialog::accepted, this, [this] {
            netBand = netDetailsDialog->band();
            netMode = netDetailsDialog->mode();
            netFrequency = netDetailsDialog->frequency();
        });
    }
    // A window does not take its parent's colours by itself.
    netDetailsDialog->setPalette(palette());
    netDetailsDialog->setValues(netBand, netMode, netFrequency);
    netDetailsDialog->open();
}

// ---- The net of the net-log selection as ADIF and ICS-309.

std::optional<NetRecord> Trelvin::selectedNet(const QString &what)
{
    const std::optional<QString> begin = ReportLines::acceptedClock(ui->beginTime->text());
    const std::optional<QString> end = ReportLines::acceptedClock(ui->endTime->text());
    if (!begin || !end) {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Net Not Selected"),
                                      QStringLiteral("The Net Log Select times must be HH:MM.\nNo %1 was written.")
                                          .arg(what));
        return std::nullopt;
    }
    const int year = ui->year->value();
    const int month = ui->month->value();
    const int day = ui->day->value();
    Storage::Result failure;
    const QList<NetLogStore::LoggedCheckIn> rows =
        storage.netLog().netCheckIns(ReportLines::datePattern(year, month, day), *begin + QStringLiteral(":00"),
                            *end + QStringLiteral(":00"), &failure);
    if (!failure.ok()) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Read Failed"),
                                      QStringLiteral("The net log could not be read.\nNo %1 was written.").arg(what));
        writeError("Reading the net log for the " + what + " failed: " + failure.error);
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
    net.club = club();
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

QString Trelvin::proposedNetFile(const QString &suffix) const
{
    return dataDir().path() + QLatin1Char('/')
           + NetRecords::fileBaseName(club(), ui->year->value(), ui->month->value(), ui->day->value()) + suffix;
}

void Trelvin::on_actionSaveNetAdif_triggered()
{
    const std::optional<NetRecord> net = selectedNet(QStringLiteral("ADIF file"));
    if (!net)
        return;
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Net ADIF File"),
                                                            proposedNetFile(QStringLiteral(".adi")),
                                                            QString::fromLatin1(AdifFilter));
    if (name.isEmpty())
        return;

    const QDateTime now = clockNow();
    Adif::Header header{QString::fromLatin1(Trel::Version), now,
                        QStringLiteral("Times are UTC, converted from the local time of the log (")
                            + Utc::localZoneLabel(net->checkIns.first().utc) + QStringLiteral(").")};
    QList<Adif::Qso> qsos;
    for (const NetCheckIn &checkIn : net->checkIns) {
        if (!checkIn.utc.isValid()) {
            writeError("ADIF: the check-in of " + checkIn.call + " on '" + checkIn.date + "' at '" + checkIn.time
                       + "' has no readable date or time; it was left out.");
            continue;
        }
        qsos << Adif::Qso{checkIn.call,    checkIn.utc,   net->stationCall, checkIn.name, checkIn.city,
                          checkIn.state,   checkIn.grid,  checkIn.comment,  NetRecords::roleWord(checkIn.role),
                          net->band,       net->mode,     net->frequency};
    }
    const Adif::Written written = Adif::write(header, qsos);
    for (const QString &note : written.notes)
        writeError("ADIF is ASCII only: " + note + " in '" + name + "'.");
    QString error;
    if (!writeWholeFile(name, written.text, error)) {
        reportUnwritableFile(name, error);
        return;
    }
    qCDebug(lcRecords).noquote().nospace() << "ADIF: " << qsos.size() << " of " << net->checkIns.size()
                                           << " check-ins, "
                                 << written.notes.size() << " notes, to " << name;
    statusBar()->showMessage(QStringLiteral("%1 check-ins written to %2").arg(qsos.size()).arg(name), StatusMessageMs);
}

void Trelvin::on_actionSaveIcs309_triggered()
{
    const std::optional<NetRecord> net = selectedNet(QStringLiteral("ICS-309"));
    if (!net)
        return;
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save ICS-309 Communications Log"),
                                                            proposedNetFile(QStringLiteral("-ICS309.pdf")),
                                                            QString::fromLatin1(PdfFilter));
    if (name.isEmpty())
        return;
    const Ics309::Form form = Ics309::fromNet(*net, clockNow(), Utc::localZoneLabel(net->checkIns.first().utc));

    // The rows as CSV beside the PDF, for the agencies that take a table.
    QString csvName = name;
    if (csvName.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        csvName.chop(4);
    csvName += QStringLiteral(".csv");

    // Neither file is written when either name is refused.
    for (const QString &target : {name, csvName}) {
        const QString refused = unsaveableTarget(target);
        if (!refused.isEmpty()) {
            reportUnwritableFile(target, refused);
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
        reportUnwritableFile(name, error);
        return;
    }
    if (!writeWholeFile(csvName, Ics309::csv(form), error)) {
        reportUnwritableFile(csvName, error);
        return;
    }
    qCDebug(lcRecords).noquote().nospace() << "ICS-309: " << form.rows.size() << " rows on " << pages << " pages, to "
                                           << name;
    statusBar()->showMessage(QStringLiteral("ICS-309 of %1 check-ins on %2 pages written to %3")
                                 .arg(form.rows.size())
                                 .arg(pages)
                                 .arg(name),
                             StatusMessageMs);
}
