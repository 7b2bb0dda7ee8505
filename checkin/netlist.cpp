#include "app/logging.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "reports/reportscontroller.h"
#include "ui_contact.h"
#include "ui_trelvin.h"

#include <QDateTime>
#include <QFont>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

using namespace NetRules;

namespace {

QString field(const QString &value, int width)
{
    return QStringLiteral("%1").arg(value, width);
}

QColor orFallback(const QColor &colour, const QColor &fallback)
{
    return colour.isValid() ? colour : fallback;
}

} // namespace

void Trelvin::addContact(int type)
{
    NetLogStore::EntryChange change;
    change.call = ui->call->text().toUpper();
    change.relay = ui->relay->text().toUpper();
    change.name = ui->name->text();
    change.city = ui->city->text();
    change.state = ui->state->text().toUpper();
    change.comment = ui->qso->text();
    change.now = QDateTime::currentDateTime();
    change.key = type;
    change.entryId = entryId;
    // A call not yet known is stored with what the Contact dialog holds, but
    // with the name and state typed in the entry.
    const Ui::Contact *dlg = contactDialog->ui;
    change.contact = ContactRecord::fromValues(
        {change.call, change.name, dlg->name->text(), dlg->classlic->text(), dlg->expire->text(), dlg->addr->text(),
         dlg->city->text(), change.state, dlg->zip->text(), dlg->country->text(), dlg->email->text(),
         digitsOnly(dlg->phone->text()), dlg->lat->text(), dlg->lon->text(), dlg->grid->text(), dlg->geoloc->text(),
         dlg->utc->text(), dlg->dst->text(), dlg->born->text()});

    const NetLogStore::EntryOutcome outcome = storage.netLog().storeEntry(change);

    const QString &call = change.call;
    if (outcome.netDuplicate) {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Error: Callsign Exists in Net Data"),
                                      "Attempt to change Net Check-In Callsign to '" + call + "'.<br />" + call
                                          + "' already exists within the Net Check-In Data");
        writeError("Attempt to change Net Check-In Callsign to '" + call + "'.");
    }
    if (outcome.contactDuplicate) {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Error: Callsign Exists in Contact Database"),
                                      "Attempt to change Contact Callsign to '" + call + "'.<br />" + call
                                          + "' already exists within the Contact Database");
        writeError("Attempt to change Contact Callsign to '" + call + "'.");
    }

    // What the box names: the part that failed, or this key as a whole.
    QString operation;
    switch (outcome.failedStep) {
    case NetLogStore::EntryOutcome::Entry:
        operation = ((type & CheckedIn) ? "Check-in of " : "Entry of ") + call;
        break;
    case NetLogStore::EntryOutcome::CheckIn:
        operation = "Check-in of " + call;
        break;
    case NetLogStore::EntryOutcome::NameChange:
        operation = "Name change of " + call;
        break;
    case NetLogStore::EntryOutcome::NewContact:
        operation = "New contact " + call;
        break;
    case NetLogStore::EntryOutcome::Withdrawal:
        operation = "Withdrawal of the check-in of " + call;
        break;
    case NetLogStore::EntryOutcome::LogUpdate:
        operation = "Update of the check-in of " + call;
        break;
    }
    const bool done = stored(outcome.result, operation);
    qCDebug(lcCheckin).noquote().nospace() << "key " << type << " on " << call << ": entry " << outcome.entryId
                                 << (done ? "" : " not stored");
    if (done) {
        entryId = outcome.entryId;
        noteNetKey(type, call);
        if (!outcome.adoptedAt.isEmpty())
            statusBar()->showMessage(call + " was already checked in at " + outcome.adoptedAt
                                         + "; no second check-in was logged.",
                                     StatusMessageMs);
    }

    displayNet(activeID);
    reports->netLogChanged();
    reports->contactsChanged();

    // After a failed write the entry stays as typed so nothing is lost and
    // Enter can try again; clearing it would store it once more and report
    // the same failure a second time.
    if ((type & FromSearch) && done) {
        ui->search->setFocus(Qt::OtherFocusReason);
        selectSearch();
    }
}

void Trelvin::displayNet(int marked)
{
    QTextEdit *list = ui->checkins;
    const QPalette palette = list->palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    const auto ink = [&](Ink role) {
        switch (role) {
        case Ink::Ncs:
            return orFallback(palettes->colours().ncsText, base);
        case Ink::Relay:
            return orFallback(palettes->colours().relayText, text);
        case Ink::RelayChecked:
            return orFallback(palettes->colours().relayCheckedText, text);
        case Ink::Checked:
            return orFallback(palettes->colours().checkedText, palette.color(QPalette::Link));
        case Ink::Normal:
            break;
        }
        return orFallback(palettes->colours().normalText, text);
    };
    const auto paper = [&](Paper role) {
        switch (role) {
        case Paper::Ncs:
            return orFallback(palettes->colours().ncsBack, text);
        case Paper::Relay:
            return orFallback(palettes->colours().relayBack, palette.color(QPalette::Mid));
        case Paper::Active:
            return orFallback(palettes->colours().activeBack, palette.color(QPalette::Midlight));
        case Paper::Normal:
            break;
        }
        return orFallback(palettes->colours().normalBack, base);
    };

    // Before any line sets a weight the list's own font applies.
    bool weightSet = false;
    int weight = QFont::Normal;

    QList<DrawnLine> lines;
    int n = 0;
    int checkedCount = 0;
    for (const NetLogStore::ListedEntry &entry : storage.netLog().listedEntries()) {
        ++n;
        const Line look = netLine(entry.status, entry.id == marked);
        if (look.weight != Weight::Unchanged) {
            weightSet = true;
            weight = look.weight == Weight::Bold ? QFont::Bold : QFont::Normal;
        }

        QTextCharFormat format;
        format.setForeground(ink(look.ink));
        format.setBackground(paper(look.paper));
        if (weightSet)
            format.setFontWeight(weight);

        lines.append({QStringLiteral("%1 %2 %3 %4 %5")
                          .arg(field(QString::number(n), 3), field(look.code, 2), field(entry.call, -6),
                               field(clipped(entry.name, 10), -10), field(entry.relay, -6)),
                      format});
        if (entry.status & CheckedIn)
            ++checkedCount;
    }

    // A key changes a line or two of a list of dozens: only those are
    // rewritten, the rest of the view and its layout stay.
    QTextDocument *document = list->document();
    const qsizetype kept = std::min(drawnNet.size(), lines.size());
    const bool whole = kept == 0 || document->blockCount() != drawnNet.size()
                       || document->characterCount() != drawnNetChars;
    if (whole) {
        list->clear();
        // An undo history of the list would only grow.
        document->setUndoRedoEnabled(false);
    }
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    if (!whole) {
        for (qsizetype i = 0; i < kept; ++i) {
            if (lines.at(i) == drawnNet.at(i))
                continue;
            const QTextBlock block = document->findBlockByNumber(int(i));
            cursor.setPosition(block.position());
            cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
            cursor.insertText(lines.at(i).text, lines.at(i).format);
        }
        if (lines.size() < drawnNet.size()) {
            const QTextBlock last = document->findBlockByNumber(int(kept) - 1);
            cursor.setPosition(last.position() + last.length() - 1);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.movePosition(QTextCursor::End);
    }
    for (qsizetype i = whole ? 0 : kept; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(lines.at(i).text, lines.at(i).format);
    }
    cursor.endEditBlock();
    drawnNet = lines;
    drawnNetChars = document->characterCount();

    // The marked line is the one numbered like the active row's id, or the
    // last line when the list is shorter.
    if (n > 0) {
        const int line = qBound(1, marked, n);
        // Moving the cursor costs a repaint of both lines: only when it moves.
        const QTextCursor at = list->textCursor();
        const QTextBlock block = document->findBlockByNumber(line - 1);
        if (at.hasSelection() || at.position() != block.position())
            list->setTextCursor(QTextCursor(block));
        list->ensureCursorVisible();
    }
    ui->checks->setText(QString::number(checkedCount));
}

QString Trelvin::stationType(QString call)
{
    return logLetter(storage.netLog().netStatus(call).value_or(0));
}

void Trelvin::on_relayButton_clicked()
{
    addContact(Relay | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_trafficButton_clicked()
{
    addContact(Traffic | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_mobileButton_clicked()
{
    addContact(Mobile | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_shortButton_clicked()
{
    addContact(Short | (ui->search->hasFocus() ? FromSearch : 0));
}

void Trelvin::on_NCSButton_clicked()
{
    addContact(Ncs | (ui->search->hasFocus() ? FromSearch : 0));
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
    reports->openCheckInData();
}
