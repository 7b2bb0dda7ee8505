#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "data/schema.h"
#include "dialogs/contact.h"
#include "reports/seelogs.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QDateTime>
#include <QFont>
#include <QSqlError>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Bits of the type word handed to addContact; the low six are also the
// status bits of a net row.
enum : int {
    RoleRelay = 1,
    RoleTraffic = 2,
    RoleMobile = 4,
    RoleShort = 8,
    RoleNcs = 16,
    RoleBits = RoleRelay | RoleTraffic | RoleMobile | RoleShort | RoleNcs,
    CheckedIn = 32,
    FromSearch = 64,
    StoreOnly = 128,
    CheckToggle = 256,
    CheckIn = 512,
};

QString field(const QString &value, int width)
{
    return QStringLiteral("%1").arg(value, width);
}

QColor orFallback(const QColor &colour, const QColor &fallback)
{
    return colour.isValid() ? colour : fallback;
}

// A check-in logged this long ago or less is taken for tonight's: after a
// restart mid-net the station is not logged a second time.
constexpr int SameNetSeconds = 3 * 60 * 60;

} // namespace

void Trelvin::addContact(int type)
{
    const QString call = ui->call->text().toUpper();
    const QString relay = ui->relay->text().toUpper();
    const QString name = ui->name->text();
    const QString city = ui->city->text();
    const QString state = ui->state->text().toUpper();
    const QString comment = ui->qso->text();
    const QDateTime now = QDateTime::currentDateTime();
    const QString date = now.toString(QStringLiteral("yyMMdd"));
    const QString time = now.toString(QStringLiteral("HH:mm:ss"));

    // What the box names when this key as a whole could not be stored.
    const QString operation = ((type & CheckedIn) ? "Check-in of " : "Entry of ") + call;
    // Set when the check-in took over a row logged before a restart.
    QString adoptedAt;

    // A read that fails ends the check-in, which would rest on it: nothing
    // is stored, as when a write fails.
    const auto readFailed = [&](const QSqlQuery &query, const QString &what) {
        reportReadFailure(what, query.lastError());
        reportWriteFailure(what, QString());
        return false;
    };

    // The net list is in memory; its writes are checked like the file's, so
    // that it never shows what the file did not take, or the reverse.
    const auto execNet = [&](QSqlQuery &query) {
        if (query.exec())
            return true;
        reportNetWriteFailure(call, query.lastError().text(), false);
        return false;
    };

    const auto insertLog = [&]() {
        // A row for this call logged within the last hours and shown by no
        // entry of the net list is tonight's check-in from before a restart.
        QSqlQuery earlier(fileDb);
        earlier.setForwardOnly(true);
        earlier.prepare(QStringLiteral("SELECT id, date, time FROM log WHERE call = ? AND date >= ? "
                                       "ORDER BY date DESC, time DESC"));
        earlier.addBindValue(call);
        earlier.addBindValue(now.addSecs(-SameNetSeconds).toString(QStringLiteral("yyMMdd")));
        if (!earlier.exec())
            return readFailed(earlier, operation);
        QSqlQuery linked(memoryDb);
        linked.prepare(QStringLiteral("SELECT id FROM net WHERE logId = ?"));
        while (earlier.next()) {
            if (!loggedWithin(earlier.value(1).toString(), earlier.value(2).toString(), now, SameNetSeconds))
                continue;
            linked.addBindValue(earlier.value(0).toInt());
            if (!linked.exec())
                return readFailed(linked, operation);
            if (linked.next())
                continue;
            QSqlQuery update(fileDb);
            update.prepare(QStringLiteral("UPDATE log SET status = ?, call = ?, name = ?, relay = ?, city = ?, "
                                          "state = ?, comment = ? WHERE id = ?"));
            for (const QString &value : {stationType(call), call, name, relay, city, state, comment})
                update.addBindValue(value);
            update.addBindValue(earlier.value(0).toInt());
            if (!execWrite(update, "Check-in of " + call))
                return false;
            activeLogId = earlier.value(0).toInt();
            adoptedAt = earlier.value(2).toString().left(5);
            return true;
        }

        QSqlQuery insert(fileDb);
        insert.prepare(QString::fromLatin1(Schema::InsertLog));
        for (const QString &value : {date, time, stationType(call), call, name, relay, city, state, comment})
            insert.addBindValue(value);
        if (!execWrite(insert, "Check-in of " + call))
            return false;
        activeLogId = insert.lastInsertId().toInt();
        return true;
    };

    // False after the first statement that failed; the caller then takes
    // back everything this key wrote, in the file and in the net list.
    const auto store = [&]() -> bool {
        // A name typed for a known call replaces the stored one at once.
        QSqlQuery query(fileDb);
        query.prepare(QStringLiteral("SELECT name FROM contact WHERE call = ?"));
        query.addBindValue(call);
        if (!query.exec())
            return readFailed(query, operation);
        if (query.next() && query.value(0).toString() != name) {
            QSqlQuery update(fileDb);
            update.prepare(QStringLiteral("UPDATE contact SET name = ? WHERE call = ?"));
            update.addBindValue(name);
            update.addBindValue(call);
            if (!execWrite(update, "Name change of " + call))
                return false;
        }

        activeLogId = 0;
        activeConId = 0;
        QSqlQuery net(memoryDb);
        if (entryId != 0) {
            net.prepare(QStringLiteral("SELECT logId, conId FROM net WHERE id = ?"));
            net.addBindValue(entryId);
            if (net.exec() && net.next()) {
                activeLogId = net.value(0).toInt();
                activeConId = net.value(1).toInt();
            } else {
                // The entry's row was taken out of the net meanwhile: start over
                // from the call, as for a station not yet selected.
                entryId = 0;
            }
        }
        if (entryId == 0) {
            net.prepare(QStringLiteral("SELECT id, logId, conId FROM net WHERE call = ?"));
            net.addBindValue(call);
            if (net.exec()) {
                while (net.next()) {
                    entryId = net.value(0).toInt();
                    activeLogId = net.value(1).toInt();
                    activeConId = net.value(2).toInt();
                }
            }
        }

        if (call.isEmpty())
            return true;

        if (entryId == 0) {
            // A station new to tonight's net.
            if ((type & CheckedIn) && !insertLog())
                return false;

            query.prepare(QStringLiteral("SELECT id FROM contact WHERE call = ?"));
            query.addBindValue(call);
            if (!query.exec())
                return readFailed(query, operation);
            if (query.next())
                activeConId = query.value(0).toInt();

            if (activeConId == 0) {
                const Ui::Contact *dlg = contactDialog->ui;
                const QStringList record{call, name, dlg->name->text(), dlg->classlic->text(), dlg->expire->text(),
                                         dlg->addr->text(), dlg->city->text(), state, dlg->zip->text(),
                                         dlg->country->text(), dlg->email->text(), digitsOnly(dlg->phone->text()),
                                         dlg->lat->text(), dlg->lon->text(), dlg->grid->text(), dlg->geoloc->text(),
                                         dlg->utc->text(), dlg->dst->text(), dlg->born->text()};
                if (!writeContact(false, record, "New contact " + call))
                    return false;
                QSqlQuery inserted(fileDb);
                if (!inserted.exec(QStringLiteral("SELECT last_insert_rowid()")) || !inserted.next())
                    return readFailed(inserted, "New contact " + call);
                activeConId = inserted.value(0).toInt();
            }

            QSqlQuery insert(memoryDb);
            insert.prepare(QStringLiteral("INSERT INTO net (id, time, call, name, city, state, comment, conId, logId, "
                                          "status, relay) VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
            insert.addBindValue(adoptedAt.isEmpty() ? time.left(5) : adoptedAt);
            insert.addBindValue(call);
            insert.addBindValue(name);
            insert.addBindValue(city);
            insert.addBindValue(state);
            insert.addBindValue(comment);
            insert.addBindValue(activeConId);
            insert.addBindValue(activeLogId);
            insert.addBindValue(type);
            insert.addBindValue(relay);
            if (!execNet(insert))
                return false;
            entryId = insert.lastInsertId().toInt();
            return true;
        }

        // A station already in the net: its call may have been changed to
        // one that another entry or another contact already has.
        bool netDuplicate = false;
        net.prepare(QStringLiteral("SELECT id FROM net WHERE call = ?"));
        net.addBindValue(call);
        if (net.exec() && net.next() && net.value(0).toInt() != entryId) {
            Prompter::instance()->message(Prompter::Warning, QStringLiteral("Error: Callsign Exists in Net Data"),
                                          "Attempt to change Net Check-In Callsign to '" + call + "'.<br />" + call
                                              + "' already exists within the Net Check-In Data");
            errorMessage = "Attempt to change Net Check-In Callsign to '" + call + "'.";
            logError();
            netDuplicate = true;
        }
        query.prepare(QStringLiteral("SELECT id FROM contact WHERE call = ?"));
        query.addBindValue(call);
        if (!query.exec())
            return readFailed(query, operation);
        if (query.next() && query.value(0).toInt() != activeConId) {
            Prompter::instance()->message(Prompter::Warning, QStringLiteral("Error: Callsign Exists in Contact Database"),
                                          "Attempt to change Contact Callsign to '" + call + "'.<br />" + call
                                              + "' already exists within the Contact Database");
            errorMessage = "Attempt to change Contact Callsign to '" + call + "'.";
            logError();
            return true;
        }
        if (netDuplicate)
            return true;

        bool withdrawn = false;
        net.prepare(QStringLiteral("SELECT logId, status FROM net WHERE id = ?"));
        net.addBindValue(entryId);
        if (net.exec() && net.next()) {
            activeLogId = net.value(0).toInt();
            const int oldStatus = net.value(1).toInt();
            int newStatus = oldStatus;
            if (type & RoleBits)
                newStatus ^= type & RoleBits;
            if ((type & CheckIn) && (type & CheckedIn))
                newStatus |= CheckedIn;
            if ((type & CheckToggle) && (type & CheckedIn)) {
                newStatus ^= CheckedIn;
                if (oldStatus & CheckedIn) {
                    QSqlQuery remove(fileDb);
                    remove.prepare(QStringLiteral("DELETE FROM log WHERE id = ?"));
                    remove.addBindValue(activeLogId);
                    if (!execWrite(remove, "Withdrawal of the check-in of " + call))
                        return false;
                    withdrawn = true;
                }
            }
            // Set before the log is written: the log's letter is read from it.
            QSqlQuery update(memoryDb);
            update.prepare(QStringLiteral("UPDATE net SET status = ? WHERE id = ?"));
            update.addBindValue((type & StoreOnly) ? oldStatus : newStatus);
            update.addBindValue(entryId);
            if (!execNet(update))
                return false;
        }

        if (!withdrawn) {
            if ((type & CheckedIn) && activeLogId == 0) {
                if (!insertLog())
                    return false;
            } else if (activeLogId != 0) {
                QSqlQuery update(fileDb);
                update.prepare(QStringLiteral("UPDATE log SET status = ?, call = ?, name = ?, relay = ?, city = ?, "
                                              "state = ?, comment = ? WHERE id = ?"));
                for (const QString &value : {stationType(call), call, name, relay, city, state, comment})
                    update.addBindValue(value);
                update.addBindValue(activeLogId);
                if (!execWrite(update, "Update of the check-in of " + call))
                    return false;
            }
        }

        QSqlQuery update(memoryDb);
        update.prepare(QStringLiteral("UPDATE net SET call = ?, name = ?, relay = ?, city = ?, state = ?, "
                                      "comment = ?, logId = ? WHERE id = ?"));
        for (const QString &value : {call, name, relay, city, state, comment})
            update.addBindValue(value);
        update.addBindValue(withdrawn ? 0 : activeLogId);
        update.addBindValue(entryId);
        if (!execNet(update))
            return false;
        if (withdrawn)
            activeLogId = 0;

        QSqlQuery rename(fileDb);
        rename.prepare(QStringLiteral("UPDATE contact SET name = ? WHERE id = ?"));
        rename.addBindValue(name);
        rename.addBindValue(activeConId);
        return execWrite(rename, "Name change of " + call);
    };

    // One key, one change: the file's writes are one transaction and the net
    // list's another, so a failure part-way leaves both as they were.
    const int entryBefore = entryId;
    const int logBefore = activeLogId;
    const int contactBefore = activeConId;
    bool stored = false;
    if (!fileDb.transaction()) {
        reportWriteFailure(operation, fileDb.lastError().text());
    } else if (!memoryDb.transaction()) {
        fileDb.rollback();
        reportNetWriteFailure(call, memoryDb.lastError().text(), false);
    } else if (!store()) {
        fileDb.rollback();
        memoryDb.rollback();
    } else if (!fileDb.commit()) {
        reportWriteFailure(operation, fileDb.lastError().text());
        fileDb.rollback();
        memoryDb.rollback();
    } else if (!memoryDb.commit()) {
        // The file holds the change; the list goes back to what it showed
        // and the operator is told rather than left with a silent difference.
        const QString reason = memoryDb.lastError().text();
        memoryDb.rollback();
        reportNetWriteFailure(call, reason, true);
    } else {
        stored = true;
    }
    if (!stored) {
        entryId = entryBefore;
        activeLogId = logBefore;
        activeConId = contactBefore;
    } else if (!adoptedAt.isEmpty()) {
        statusBar()->showMessage(call + " was already checked in at " + adoptedAt
                                     + "; no second check-in was logged.",
                                 StatusMessageMs);
    }

    displayNet(activeID);
    if (dateLogWindow->isVisible())
        showCurrentTrelvin();
    if (allLogWindow->isVisible())
        showDatabase();
    if (contactsWindow->isVisible())
        showContacts();

    // After a failed write the entry stays as typed so nothing is lost and
    // Enter can try again; clearing it would store it once more and report
    // the same failure a second time.
    if ((type & FromSearch) && stored) {
        ui->search->setFocus(Qt::OtherFocusReason);
        selectSearch();
    }
}

void Trelvin::displayNet(int activeID)
{
    QTextEdit *list = ui->checkins;
    const QPalette palette = list->palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    const QColor normalText = orFallback(normalTextColor, text);
    const QColor normalBack = orFallback(normalBackColor, base);
    const QColor ncsText = orFallback(ncsTextColor, base);
    const QColor ncsBack = orFallback(ncsBackColor, text);
    const QColor relayText = orFallback(relayTextColor, text);
    const QColor relayBack = orFallback(relayBackColor, palette.color(QPalette::Mid));
    const QColor relayCheckedText = orFallback(relayCheckedTextColor, text);
    const QColor checkedText = orFallback(checkedTextColor, palette.color(QPalette::Link));
    const QColor activeBack = orFallback(activeBackColor, palette.color(QPalette::Midlight));

    list->clear();
    // The list is redrawn whole on every change; an undo history of it
    // would only grow.
    list->document()->setUndoRedoEnabled(false);
    QTextCursor cursor(list->document());
    cursor.beginEditBlock();

    // A weight once set stays for the rows that follow until another row
    // sets one; before that the list's own font applies.
    bool weightSet = false;
    int weight = QFont::Normal;

    int n = 0;
    int checkedCount = 0;
    QSqlQuery query(memoryDb);
    if (query.exec(QStringLiteral("SELECT id, status, call, name, relay FROM net ORDER BY id"))) {
        while (query.next()) {
            ++n;
            const int id = query.value(0).toInt();
            const int status = query.value(1).toInt();
            const bool checked = status & CheckedIn;
            QColor fore = normalText;
            QColor back = normalBack;
            QString code = QStringLiteral("--");
            if (status & RoleShort)
                code = QStringLiteral("S-");
            if (status & RoleMobile)
                code = QStringLiteral("M-");
            if (status & RoleTraffic)
                code = QStringLiteral("T-");
            if (status & RoleNcs) {
                code = checked ? QStringLiteral("NC") : QStringLiteral("N-");
                back = ncsBack;
                fore = ncsText;
            }
            if (status & RoleRelay) {
                code = checked ? QStringLiteral("RC") : QStringLiteral("R-");
                back = relayBack;
                fore = relayText;
                if (checked) {
                    weightSet = true;
                    weight = QFont::Bold;
                    back = normalBack;
                    fore = relayCheckedText;
                }
            }
            if (checked && !(status & (RoleNcs | RoleRelay))) {
                code = code.left(1) + QLatin1Char('C');
                fore = checkedText;
                weightSet = true;
                weight = QFont::Normal;
            }
            if (id == activeID)
                back = activeBack;

            QTextCharFormat format;
            format.setForeground(fore);
            format.setBackground(back);
            if (weightSet)
                format.setFontWeight(weight);

            const QString line = QStringLiteral("%1 %2 %3 %4 %5")
                                     .arg(field(QString::number(n), 3), field(code, 2), field(query.value(2).toString(), -6),
                                          field(clipped(query.value(3).toString(), 10), -10),
                                          field(query.value(4).toString(), -6));
            if (n > 1)
                cursor.insertBlock();
            cursor.insertText(line, format);
            if (checked)
                ++checkedCount;
        }
    }
    cursor.endEditBlock();

    // The marked line is the one numbered like the active row's id, or the
    // last line when the list is shorter.
    if (n > 0) {
        const int line = qBound(1, activeID, n);
        QTextCursor mark(list->document()->findBlockByNumber(line - 1));
        list->setTextCursor(mark);
        list->ensureCursorVisible();
    }
    ui->checks->setText(QString::number(checkedCount));
}

QString Trelvin::stationType(QString call)
{
    QSqlQuery query(memoryDb);
    query.prepare(QStringLiteral("SELECT status FROM net WHERE call = ?"));
    query.addBindValue(call);
    if (!query.exec() || !query.next())
        return QStringLiteral("-");
    const int status = query.value(0).toInt();
    if (status & RoleRelay)
        return QStringLiteral("R");
    if (status & RoleTraffic)
        return QStringLiteral("T");
    if (status & RoleMobile)
        return QStringLiteral("M");
    if (status & RoleShort)
        return QStringLiteral("S");
    if (status & RoleNcs)
        return QStringLiteral("N");
    return QStringLiteral("-");
}

void Trelvin::on_relayButton_clicked()
{
    addContact(RoleRelay | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_trafficButton_clicked()
{
    addContact(RoleTraffic | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_mobileButton_clicked()
{
    addContact(RoleMobile | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_shortButton_clicked()
{
    addContact(RoleShort | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_NCSButton_clicked()
{
    addContact(RoleNcs | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_logContactButton_clicked()
{
    addContact(CheckToggle | FromSearch | CheckedIn);
}

void Trelvin::on_qso_returnPressed()
{
    addContact(CheckIn | FromSearch | CheckedIn);
}

void Trelvin::on_relayViaButton_clicked()
{
    ui->relay->setFocus(Qt::OtherFocusReason);
    ui->relay->clear();
    ui->relay->setModified(true);
}

void Trelvin::on_actionShow_Checkin_Data_triggered()
{
    dateLogWindow->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dateLogWindow->setWindowTitle(QStringLiteral("Check-Ins Raw Data"));
    dateLogWindow->show();
    dateLogWindow->raise();
    ui->search->setFocus(Qt::OtherFocusReason);
}
