#include "app/trelvin.h"
#include "reports/reportlines.h"
#include "reports/seelogs.h"
#include "ui_seelogs.h"
#include "ui_trelvin.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextCursor>

namespace {

// The whole report is built in one text and goes in with one setPlainText:
// appending line by line lays the document out again for every row and is
// far slower on a long log.
void writeReport(SeeLogs *window, const QString &header, const QString &report)
{
    window->ui->log->setLineWrapMode(QPlainTextEdit::NoWrap);
    window->ui->header->setPlainText(header);
    window->ui->log->setPlainText(report);
    window->ui->log->moveCursor(QTextCursor::Start);
}

// Reads a log row by column name, so a table re-created by the CSV loader
// with another column order still reads right.
class LogColumns {
public:
    explicit LogColumns(const QSqlRecord &record)
        : id(record.indexOf(QStringLiteral("id")))
        , date(record.indexOf(QStringLiteral("date")))
        , time(record.indexOf(QStringLiteral("time")))
        , status(record.indexOf(QStringLiteral("status")))
        , call(record.indexOf(QStringLiteral("call")))
        , name(record.indexOf(QStringLiteral("name")))
        , relay(record.indexOf(QStringLiteral("relay")))
        , city(record.indexOf(QStringLiteral("city")))
        , state(record.indexOf(QStringLiteral("state")))
        , comment(record.indexOf(QStringLiteral("comment")))
    {
    }

    ReportLines::LogRow read(const QSqlQuery &query) const
    {
        ReportLines::LogRow row;
        row.id = query.value(id).toLongLong();
        row.date = query.value(date).toString();
        row.time = query.value(time).toString();
        row.status = query.value(status).toString();
        row.call = query.value(call).toString();
        row.name = query.value(name).toString();
        row.relay = query.value(relay).toString();
        row.city = query.value(city).toString();
        row.state = query.value(state).toString();
        row.comment = query.value(comment).toString();
        return row;
    }

private:
    int id, date, time, status, call, name, relay, city, state, comment;
};

void present(SeeLogs *window)
{
    window->show();
    window->raise();
}

} // namespace

void Trelvin::showCurrentTrelvin()
{
    logMonth = ui->month->value();
    logDay = ui->day->value();
    logYear = ui->year->value();

    const std::optional<QString> begin = ReportLines::acceptedClock(ui->beginTime->text());
    if (!begin) {
        ui->beginTime->setPalette(alertPalette);
        ui->beginTime->setText(QStringLiteral("ERR"));
        return;
    }
    logBeginTime = *begin;
    ui->beginTime->setText(logBeginTime);
    ui->beginTime->setPalette(infoPalette);
    logBeginTime += QStringLiteral(":00");

    const std::optional<QString> end = ReportLines::acceptedClock(ui->endTime->text());
    if (!end) {
        ui->endTime->setPalette(alertPalette);
        ui->endTime->setText(QStringLiteral("ERR"));
        return;
    }
    logEndTime = *end;
    ui->endTime->setText(logEndTime);
    ui->endTime->setPalette(infoPalette);
    logEndTime += QStringLiteral(":00");

    logDateText = ReportLines::titleDate(logMonth, logDay, logYear);
    showTrelvin();
}

void Trelvin::showTrelvin()
{
    const QString pattern = ReportLines::datePattern(logYear, logMonth, logDay);

    // The count comes first: the lines are numbered down from it. The date
    // pattern is six digits and never a wildcard, so equality selects the
    // same rows as LIKE and can use the index on the date.
    QSqlQuery count(fileDb);
    count.setForwardOnly(true);
    count.prepare(QStringLiteral("SELECT COUNT(*) FROM log WHERE date = ? AND time > ? AND time < ?"));
    count.addBindValue(pattern);
    count.addBindValue(logBeginTime);
    count.addBindValue(logEndTime);
    qint64 number = 0;
    if (count.exec() && count.next())
        number = count.value(0).toLongLong();

    QString report;
    report.reserve(number * 200);
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT * FROM log WHERE date = ? AND time > ? AND time < ? ORDER BY time desc"));
    query.addBindValue(pattern);
    query.addBindValue(logBeginTime);
    query.addBindValue(logEndTime);
    if (query.exec()) {
        const LogColumns columns(query.record());
        while (query.next())
            ReportLines::appendDateLogLine(report, number--, columns.read(query));
    }
    writeReport(dateLogWindow, ReportLines::dateLogHeader(), report);
}

void Trelvin::showDatabase()
{
    QString report;
    qint64 count = 0;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT * FROM log ORDER BY date desc, time desc"))) {
        const LogColumns columns(query.record());
        while (query.next()) {
            ReportLines::appendWholeLogLine(report, columns.read(query));
            ++count;
        }
    }
    writeReport(allLogWindow, ReportLines::wholeLogHeader(), report);
    allLogWindow->setWindowTitle(QStringLiteral("Net Log Database with %1 logged Contacts").arg(count));
}

void Trelvin::showContacts()
{
    QString report;
    qint64 count = 0;
    QSqlQuery query(fileDb);
    query.setForwardOnly(true);
    if (query.exec(QStringLiteral("SELECT id, call, name, city, state FROM contact "
                                  "ORDER BY substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2)"))) {
        while (query.next()) {
            ReportLines::appendContactLine(report, ++count, query.value(1).toString(), query.value(2).toString(),
                                           query.value(4).toString(), query.value(3).toString());
        }
    }
    writeReport(contactsWindow, ReportLines::contactsHeader(), report);
    contactsWindow->setWindowTitle(QStringLiteral("Contacts Database with %1 Contacts").arg(count));
}

void Trelvin::showRoster()
{
    QString report;
    qint64 count = 0;
    QSqlQuery members(memoryDb);
    members.setForwardOnly(true);
    QSqlQuery contact(fileDb);
    contact.setForwardOnly(true);
    contact.prepare(QStringLiteral("SELECT call, name, city, state FROM contact WHERE call=?"));
    if (members.exec(QStringLiteral(
            "SELECT call FROM mbr ORDER BY substr(ltrim(call,'ABCDEFGHIJKLMNOPQRSTUVWXYZ'),2)"))) {
        while (members.next()) {
            contact.addBindValue(members.value(0).toString());
            // A member without a contact record is left out and not counted.
            if (contact.exec() && contact.next()) {
                ReportLines::appendContactLine(report, ++count, contact.value(0).toString(),
                                               contact.value(1).toString(), contact.value(3).toString(),
                                               contact.value(2).toString());
            }
            contact.finish();
        }
    }
    writeReport(rosterWindow, ReportLines::rosterHeader(), report);
    rosterWindow->setWindowTitle(club + QStringLiteral(" Club Roster with %1 Members").arg(count));
}

void Trelvin::showQsoHistory(QString call, int type)
{
    QString report;
    if (type == 0) {
        qsoWindow->setWindowTitle(QStringLiteral("QSO History"));
    } else {
        qsoWindow->setWindowTitle(QStringLiteral("QSO History for ") + call);
        QSqlQuery query(fileDb);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT date, comment FROM log WHERE call = ? ORDER BY date DESC LIMIT 10"));
        query.addBindValue(call);
        if (query.exec()) {
            while (query.next())
                ReportLines::appendQsoLine(report, query.value(0).toString(), query.value(1).toString());
        }
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
    present(dateLogWindow);
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionShowTrelvin_triggered()
{
    allLogWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showDatabase();
    present(allLogWindow);
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionShowContacts_triggered()
{
    contactsWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showContacts();
    present(contactsWindow);
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionShowClubRoster_triggered()
{
    rosterWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    showRoster();
    present(rosterWindow);
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::on_actionShow_QSO_History_Log_triggered()
{
    qsoWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Without a station in the entry there is nothing to look up; whatever
    // the window showed stays.
    if (!ui->call->text().isEmpty())
        showQsoHistory(ui->call->text(), 2);
    present(qsoWindow);
    activateWindow();
    ui->search->setFocus(Qt::OtherFocusReason);
}
