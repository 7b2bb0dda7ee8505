#include "app/trelvin.h"
#include "reports/reportfill.h"
#include "reports/reportlines.h"
#include "reports/seelogs.h"
#include "ui_seelogs.h"
#include "ui_trelvin.h"

#include <QTextCursor>

namespace {

// A log row copied out of its query.
class StoredLogRow {
public:
    explicit StoredLogRow(const LogRowView &row)
        : id(row.id)
        , date(row.date.toByteArray())
        , time(row.time.toByteArray())
        , status(row.status.toByteArray())
        , call(row.call.toByteArray())
        , name(row.name.toByteArray())
        , relay(row.relay.toByteArray())
        , city(row.city.toByteArray())
        , state(row.state.toByteArray())
        , comment(row.comment.toByteArray())
    {
    }

    LogRowView view() const
    {
        return {id, date, time, status, call, name, relay, city, state, comment};
    }

private:
    qint64 id;
    QByteArray date, time, status, call, name, relay, city, state, comment;
};

// A long report is tens of megabytes of text. Fresh memory of that size
// costs more to map than the report costs to write, so the reports share one
// buffer that keeps its room between them, up to a limit.
constexpr qsizetype KeptReportChars = 32 * 1024 * 1024;

QString &reportBuffer(qint64 rows, qsizetype width)
{
    static QString buffer;
    buffer.resize(0);
    buffer.reserve(qsizetype(qMin<qint64>(rows, 10'000'000)) * (width + 1));
    return buffer;
}

void releaseReportBuffer(QString &buffer)
{
    if (buffer.capacity() > KeptReportChars)
        buffer = QString();
    else
        buffer.resize(0);
}

// The whole report is built in one text and goes in with one setPlainText:
// appending line by line lays the document out again for every row and is
// far slower on a long log.
void writeReport(SeeLogs *window, const QString &header, QString &report)
{
    window->ui->log->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Laying out even one line costs as much as dozens of report lines; the
    // header rarely changes.
    if (window->ui->header->toPlainText() != header)
        window->ui->header->setPlainText(header);
    window->ui->log->setPlainText(report);
    window->ui->log->moveCursor(QTextCursor::Start);
    releaseReportBuffer(report);
}

// Shows a report window in front; the keyboard stays with the search.
void present(QWidget *search, SeeLogs *window)
{
    window->show();
    window->raise();
    search->activateWindow();
    search->setFocus(Qt::OtherFocusReason);
}

} // namespace

void Trelvin::showCurrentTrelvin()
{
    logMonth = ui->month->value();
    logDay = ui->day->value();
    logYear = ui->year->value();

    const std::optional<QString> begin = ReportLines::acceptedClock(ui->beginTime->text());
    if (!begin) {
        ui->beginTime->setPalette(palettes->alert());
        ui->beginTime->setText(QStringLiteral("ERR"));
        return;
    }
    logBeginTime = *begin;
    ui->beginTime->setText(logBeginTime);
    ui->beginTime->setPalette(palettes->info());
    logBeginTime += QStringLiteral(":00");

    const std::optional<QString> end = ReportLines::acceptedClock(ui->endTime->text());
    if (!end) {
        ui->endTime->setPalette(palettes->alert());
        ui->endTime->setText(QStringLiteral("ERR"));
        return;
    }
    logEndTime = *end;
    ui->endTime->setText(logEndTime);
    ui->endTime->setPalette(palettes->info());
    logEndTime += QStringLiteral(":00");

    logDateText = ReportLines::titleDate(logMonth, logDay, logYear);
    showTrelvin();
}

void Trelvin::showTrelvin()
{
    // The lines are numbered down from the count, so one night's rows are
    // kept until it is known; a second query just to count them would cost
    // more than the copies.
    QList<StoredLogRow> rows;
    storage.netLog().eachLogRowOfDay(ReportLines::datePattern(logYear, logMonth, logDay), logBeginTime, logEndTime,
                            [&rows](const LogRowView &row) { rows.append(StoredLogRow(row)); });

    QString &report = reportBuffer(rows.size(), ReportLines::DateLogLineChars);
    qint64 number = rows.size();
    for (const StoredLogRow &row : std::as_const(rows))
        ReportLines::appendDateLogLine(report, number--, row.view());
    writeReport(dateLogWindow, ReportLines::dateLogHeader(), report);
}

namespace {

// A report of up to Trelvin::inlineReportRows lines is built and shown at
// once, as it always was; a longer one is filled behind its first screen.
// Both take their lines from the same `body`.
void runReport(Storage &storage, ReportFill *fill, SeeLogs *window, const QString &name, const QString &header, qint64 rows,
               qsizetype width, const ReportFill::Body &body, const std::function<void(qint64)> &titled,
               bool readsRoster = false)
{
    if (rows <= Trelvin::inlineReportRows) {
        fill->drop(window);
        const Storage::Snapshot snapshot(storage);
        QString &report = reportBuffer(rows, width);
        const qint64 count = body(storage, report, {});
        writeReport(window, header, report);
        titled(count);
        return;
    }
    ReportFill::Request request;
    request.window = window;
    request.name = name;
    request.header = header;
    request.contactsPath = storage.contactsDb().databaseName();
    if (readsRoster)
        request.members = storage.roster().memberCalls();
    request.expectedLines = rows;
    request.body = body;
    request.done = titled;
    fill->request(request);
}

} // namespace

void Trelvin::showDatabase()
{
    runReport(storage, reportFill, allLogWindow, QStringLiteral("the net log report"), ReportLines::wholeLogHeader(),
        storage.contacts().rowCount(Storage::Table::Log), ReportLines::WholeLogLineChars,
        [](const Storage &from, QString &report, const std::function<void()> &added) {
            qint64 count = 0;
            from.netLog().eachLogRow([&](const LogRowView &row) {
                ReportLines::appendWholeLogLine(report, row);
                ++count;
                if (added)
                    added();
            });
            return count;
        },
        [this](qint64 count) {
            allLogWindow->setWindowTitle(QStringLiteral("Net Log Database with %1 logged Contacts").arg(count));
        });
}

void Trelvin::showContacts()
{
    runReport(storage, reportFill, contactsWindow, QStringLiteral("the contacts report"), ReportLines::contactsHeader(),
        storage.contacts().rowCount(Storage::Table::Contacts), ReportLines::ContactLineChars,
        [](const Storage &from, QString &report, const std::function<void()> &added) {
            qint64 count = 0;
            from.contacts().eachContactLine([&](const Storage::ContactLine &line) {
                ReportLines::appendContactLine(report, ++count, line.call, line.name, line.state, line.city);
                if (added)
                    added();
            });
            return count;
        },
        [this](qint64 count) {
            contactsWindow->setWindowTitle(QStringLiteral("Contacts Database with %1 Contacts").arg(count));
        });
}

void Trelvin::showRoster()
{
    // A member without a contact record is left out and not counted.
    runReport(storage, reportFill, rosterWindow, QStringLiteral("the club roster report"), ReportLines::rosterHeader(),
        storage.roster().memberCount(), ReportLines::ContactLineChars,
        [](const Storage &from, QString &report, const std::function<void()> &added) {
            qint64 count = 0;
            from.roster().eachMemberLine([&](const Storage::ContactLine &line) {
                ReportLines::appendContactLine(report, ++count, line.call, line.name, line.state, line.city);
                if (added)
                    added();
            });
            return count;
        },
        [this](qint64 count) {
            rosterWindow->setWindowTitle(club + QStringLiteral(" Club Roster with %1 Members").arg(count));
        },
        true);
}

void Trelvin::showQsoHistory(QString call, int type)
{
    QString report;
    if (type == 0) {
        qsoWindow->setWindowTitle(QStringLiteral("QSO History"));
    } else {
        qsoWindow->setWindowTitle(QStringLiteral("QSO History for ") + call);
        for (const NetLogStore::QsoLine &line : storage.netLog().qsoHistory(call))
            ReportLines::appendQsoLine(report, line.date, line.comment);
    }
    writeReport(qsoWindow, ReportLines::qsoHeader(), report);
}

void Trelvin::on_actionShow_Net_Log_Select_triggered()
{
    dateLogWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showCurrentTrelvin();
    // Built from the members even after a refused time, so the title names
    // the span that the report on screen was made for.
    dateLogWindow->setWindowTitle(QStringLiteral("Net Check-In Log for Date: ") + logDateText
                                  + QStringLiteral(" and Time: ") + logBeginTime + QStringLiteral(" through ")
                                  + logEndTime);
    present(ui->search, dateLogWindow);
}

void Trelvin::on_actionShowTrelvin_triggered()
{
    allLogWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showDatabase();
    present(ui->search, allLogWindow);
}

void Trelvin::on_actionShowContacts_triggered()
{
    contactsWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showContacts();
    present(ui->search, contactsWindow);
}

void Trelvin::on_actionShowClubRoster_triggered()
{
    rosterWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showRoster();
    present(ui->search, rosterWindow);
}

void Trelvin::on_actionShow_QSO_History_Log_triggered()
{
    qsoWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Without a station in the entry there is nothing to look up; whatever
    // the window showed stays.
    if (!ui->call->text().isEmpty())
        showQsoHistory(ui->call->text(), 2);
    present(ui->search, qsoWindow);
}
