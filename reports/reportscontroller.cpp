#include "reports/reportscontroller.h"

#include "app/constants.h"
#include "app/themes.h"
#include "data/storage.h"
#include "jobs/bulkjob.h"
#include "reports/reportfill.h"
#include "reports/reportlines.h"
#include "reports/seelogs.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTextCursor>

namespace {

// A log row copied out of its query.
class StoredLogRow {
public:
    explicit StoredLogRow(const LogRowView &row)
        : id(row.id),
          date(row.date.toByteArray()),
          time(row.time.toByteArray()),
          status(row.status.toByteArray()),
          call(row.call.toByteArray()),
          name(row.name.toByteArray()),
          relay(row.relay.toByteArray()),
          city(row.city.toByteArray()),
          state(row.state.toByteArray()),
          comment(row.comment.toByteArray())
    {
    }

    LogRowView view() const { return {id, date, time, status, call, name, relay, city, state, comment}; }

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
    window->logView()->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Laying out even one line costs as much as dozens of report lines; the
    // header rarely changes.
    if (window->headerView()->toPlainText() != header)
        window->headerView()->setPlainText(header);
    window->logView()->setPlainText(report);
    window->logView()->moveCursor(QTextCursor::Start);
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

ReportsController::ReportsController(const Widgets &widgets, Storage &store, const ThemeState *themeState,
                                     BulkJob *bulkJob, JobRunner *runner, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), theme(themeState), host(std::move(hooks))
{
    fill = new ReportFill(bulkJob, runner, this);
    // A report asked for during another job is filled once that job ended.
    connect(bulkJob, &BulkJob::ended, fill, &ReportFill::resume, Qt::QueuedConnection);
    // The windows have no parent: each is a window of its own on the desktop.
    const auto make = [this](const char *group) {
        auto *window = new SeeLogs();
        window->readSettings(QString::fromLatin1(group));
        connect(window, &SeeLogs::escapeSig, this, &ReportsController::escaped);
        return window;
    };
    wholeLog = make(Trel::Group::AllLog);
    dateLog = make(Trel::Group::DateLog);
    roster = make(Trel::Group::Roster);
    contacts = make(Trel::Group::Contacts);
    qso = make(Trel::Group::Qso);
}

ReportsController::~ReportsController()
{
    // The filler writes into the windows: it goes first.
    delete fill;
    fill = nullptr;
    for (QWidget *window : windows())
        delete window;
}

QList<QWidget *> ReportsController::windows() const
{
    return {wholeLog, dateLog, roster, contacts, qso};
}

void ReportsController::selectRestOfDay(const QDateTime &now)
{
    w.year->setValue(now.toString(QStringLiteral("yy")).toInt());
    w.month->setValue(now.toString(QStringLiteral("MM")).toInt());
    w.day->setValue(now.toString(QStringLiteral("dd")).toInt());
    w.beginTime->setText(now.toString(QStringLiteral("hh:mm")));
    w.endTime->setText(QStringLiteral("23:59"));
}

bool ReportsController::takeSelectedTimes()
{
    const auto take = [this](QLineEdit *field, QString &time) {
        const std::optional<QString> clock = ReportLines::acceptedClock(field->text());
        if (!clock) {
            field->setPalette(theme->alert());
            field->setText(QStringLiteral("ERR"));
            return false;
        }
        time = *clock;
        field->setText(time);
        field->setPalette(theme->info());
        time += QStringLiteral(":00");
        return true;
    };
    return take(w.beginTime, logBeginTime) && take(w.endTime, logEndTime);
}

void ReportsController::showSelectedNetLog()
{
    logMonth = w.month->value();
    logDay = w.day->value();
    logYear = w.year->value();
    if (!takeSelectedTimes())
        return;
    logDateText = ReportLines::titleDate(logMonth, logDay, logYear);
    showNetLogOfSelection();
}

void ReportsController::showNetLogOf(int year, int month, int day, const QString &begin, const QString &end)
{
    logYear = year;
    logMonth = month;
    logDay = day;
    logBeginTime = begin;
    logEndTime = end;
    logDateText = ReportLines::titleDate(logMonth, logDay, logYear);
    showNetLogOfSelection();
}

void ReportsController::showNetLogOfSelection()
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
    writeReport(dateLog, ReportLines::dateLogHeader(), report);
}

namespace {

// A report of up to ReportsController::inlineReportRows lines is built and shown at
// once, as it always was; a longer one is filled behind its first screen.
// Both take their lines from the same `body`.
void runReport(Storage &storage, ReportFill *fill, SeeLogs *window, const QString &name, const QString &header,
               qint64 rows, qsizetype width, const ReportFill::Body &body, const std::function<void(qint64)> &titled,
               bool readsRoster = false)
{
    if (rows <= ReportsController::inlineReportRows) {
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

void ReportsController::showWholeLog()
{
    runReport(
        storage, fill, wholeLog, QStringLiteral("the net log report"), ReportLines::wholeLogHeader(),
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
            wholeLog->setWindowTitle(QStringLiteral("Net Log Database with %1 logged Contacts").arg(count));
        });
}

void ReportsController::showContacts()
{
    runReport(
        storage, fill, contacts, QStringLiteral("the contacts report"), ReportLines::contactsHeader(),
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
            contacts->setWindowTitle(QStringLiteral("Contacts Database with %1 Contacts").arg(count));
        });
}

void ReportsController::showRoster()
{
    // A member without a contact record is left out and not counted.
    runReport(
        storage, fill, roster, QStringLiteral("the club roster report"), ReportLines::rosterHeader(),
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
            roster->setWindowTitle(host.club() + QStringLiteral(" Club Roster with %1 Members").arg(count));
        },
        true);
}

void ReportsController::showQsoHistory(const QString &call, int type)
{
    QString report;
    if (type == 0) {
        qso->setWindowTitle(QStringLiteral("QSO History"));
    } else {
        qso->setWindowTitle(QStringLiteral("QSO History for ") + call);
        for (const NetLogStore::QsoLine &line : storage.netLog().qsoHistory(call))
            ReportLines::appendQsoLine(report, line.date, line.comment);
    }
    writeReport(qso, ReportLines::qsoHeader(), report);
}

void ReportsController::openNetLogSelect()
{
    dateLog->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showSelectedNetLog();
    // Built from the members even after a refused time, so the title names
    // the span that the report on screen was made for.
    dateLog->setWindowTitle(QStringLiteral("Net Check-In Log for Date: ") + logDateText + QStringLiteral(" and Time: ")
                            + logBeginTime + QStringLiteral(" through ") + logEndTime);
    present(w.search, dateLog);
}

void ReportsController::openWholeLog()
{
    wholeLog->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showWholeLog();
    present(w.search, wholeLog);
}

void ReportsController::openContacts()
{
    contacts->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showContacts();
    present(w.search, contacts);
}

void ReportsController::openRoster()
{
    roster->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showRoster();
    present(w.search, roster);
}

void ReportsController::openQsoHistory()
{
    qso->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Without a station in the entry there is nothing to look up; whatever
    // the window showed stays.
    if (!w.call->text().isEmpty())
        showQsoHistory(w.call->text(), 2);
    present(w.search, qso);
}

void ReportsController::openCheckInData()
{
    dateLog->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dateLog->setWindowTitle(QStringLiteral("Check-Ins Raw Data"));
    dateLog->show();
    dateLog->raise();
    w.search->setFocus(Qt::OtherFocusReason);
}

void ReportsController::netLogChanged()
{
    if (dateLog->isVisible())
        showSelectedNetLog();
    if (wholeLog->isVisible())
        showWholeLog();
}

void ReportsController::contactsChanged()
{
    if (contacts->isVisible())
        showContacts();
}

void ReportsController::rosterChanged()
{
    if (roster->isVisible())
        showRoster();
}

void ReportsController::entryShown(const QString &call, int type)
{
    if (qso->isVisible())
        showQsoHistory(call, type);
}

void ReportsController::reopenWindows()
{
    const auto wasOpen = [](const SeeLogs *window) { return window->openAtExit; };
    if (wasOpen(dateLog))
        openNetLogSelect();
    if (wasOpen(roster))
        openRoster();
    if (wasOpen(contacts))
        openContacts();
    if (wasOpen(wholeLog))
        openWholeLog();
    if (wasOpen(qso)) {
        qso->setWindowTitle(QStringLiteral("QSO History"));
        openQsoHistory();
    }
}

void ReportsController::writeWindowSettings()
{
    roster->writeSettings(Trel::Group::Roster, Trel::Normal, roster->isVisible());
    wholeLog->writeSettings(Trel::Group::AllLog, Trel::Normal, wholeLog->isVisible());
    dateLog->writeSettings(Trel::Group::DateLog, Trel::Normal, dateLog->isVisible());
    contacts->writeSettings(Trel::Group::Contacts, Trel::Normal, contacts->isVisible());
    qso->writeSettings(Trel::Group::Qso, Trel::Normal, qso->isVisible());
}

void ReportsController::setPalette(const QPalette &palette)
{
    for (QWidget *window : windows())
        window->setPalette(palette);
}

void ReportsController::giveWay()
{
    if (fill->filling())
        fill->yield();
}

void ReportsController::stopFills()
{
    fill->stopAll();
}
