#include "checkin/checkindesk.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "app/themes.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "ui_contact.h"

#include <QDateTime>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

using namespace NetRules;

namespace {

// As long as the window's other status-bar notes.

QString field(const QString &value, int width)
{
    return QStringLiteral("%1").arg(value, width);
}

} // namespace

CheckInDesk::CheckInDesk(const Widgets &widgets, Storage &store, const ThemeState *themeState, Host hooks,
                         QObject *parent)
    : QObject(parent), w(widgets), storage(store), theme(themeState), host(std::move(hooks))
{
    station = new Station();
    station->readSettings();
    contact = new Contact();
    contact->readSettings();
    connect(contact, &Contact::saveContactSig, this, &CheckInDesk::saveContact);

    idStatus = new QLabel(w.statusBar);
    idStatus->setObjectName(QStringLiteral("idStatus"));
    idStatus->setStatusTip(
        QStringLiteral("Minutes since net control last identified: [Ctrl+I] after you give your call"));
    idStatus->hide();
    w.statusBar->addPermanentWidget(idStatus);

    // The list's colours follow the theme.
    connect(theme, &ThemeState::changed, this, qOverload<>(&CheckInDesk::showNet));
}

CheckInDesk::~CheckInDesk()
{
    delete station;
    delete contact;
}

bool CheckInDesk::entryModified() const
{
    return w.name->isModified() || w.city->isModified() || w.state->isModified() || w.qso->isModified()
           || w.relay->isModified();
}

NetLogStore::EntryChange CheckInDesk::entryChange(int key, const QDateTime &now) const
{
    NetLogStore::EntryChange change;
    change.call = w.call->text().toUpper();
    change.relay = w.relay->text().toUpper();
    change.name = w.name->text();
    change.city = w.city->text();
    change.state = w.state->text().toUpper();
    change.comment = w.qso->text();
    change.now = now;
    change.key = key;
    change.entryId = entryId;
    // A call not yet known is stored with what the Contact dialog holds, but
    // with the name and state typed in the entry.
    const Ui::Contact *dlg = contact->ui;
    change.contact = ContactRecord::fromValues(
        {change.call, change.name, dlg->name->text(), dlg->classlic->text(), dlg->expire->text(), dlg->addr->text(),
         dlg->city->text(), change.state, dlg->zip->text(), dlg->country->text(), dlg->email->text(),
         digitsOnly(dlg->phone->text()), dlg->lat->text(), dlg->lon->text(), dlg->grid->text(), dlg->geoloc->text(),
         dlg->utc->text(), dlg->dst->text(), dlg->born->text()});
    return change;
}

void CheckInDesk::reportDuplicates(const NetLogStore::EntryOutcome &outcome, const QString &call)
{
    if (outcome.netDuplicate) {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Error: Callsign Exists in Net Data"),
                                      "Attempt to change Net Check-In Callsign to '" + call + "'.<br />" + call
                                          + "' already exists within the Net Check-In Data");
        emit errorLine("Attempt to change Net Check-In Callsign to '" + call + "'.");
    }
    if (outcome.contactDuplicate) {
        Prompter::instance()->message(Prompter::Warning, QStringLiteral("Error: Callsign Exists in Contact Database"),
                                      "Attempt to change Contact Callsign to '" + call + "'.<br />" + call
                                          + "' already exists within the Contact Database");
        emit errorLine("Attempt to change Contact Callsign to '" + call + "'.");
    }
}

// What the box names: the part that failed, or this key as a whole.
QString CheckInDesk::failedOperation(const NetLogStore::EntryOutcome &outcome, int key, const QString &call)
{
    switch (outcome.failedStep) {
    case NetLogStore::EntryOutcome::Entry:
        return ((key & CheckedIn) ? "Check-in of " : "Entry of ") + call;
    case NetLogStore::EntryOutcome::CheckIn:
        return "Check-in of " + call;
    case NetLogStore::EntryOutcome::NameChange:
        return "Name change of " + call;
    case NetLogStore::EntryOutcome::NewContact:
        return "New contact " + call;
    case NetLogStore::EntryOutcome::Withdrawal:
        return "Withdrawal of the check-in of " + call;
    case NetLogStore::EntryOutcome::LogUpdate:
        return "Update of the check-in of " + call;
    }
    return QString();
}

void CheckInDesk::storeEntry(int key)
{
    // A time that cannot be taken has had its box: the entry stays as typed.
    const std::optional<QDateTime> now = host.entryTime();
    if (!now)
        return;
    const NetLogStore::EntryChange change = entryChange(key, *now);
    const NetLogStore::EntryOutcome outcome = storage.netLog().storeEntry(change);

    const QString &call = change.call;
    reportDuplicates(outcome, call);
    const bool done = host.stored(outcome.result, failedOperation(outcome, key, call));
    qCDebug(lcCheckin).noquote().nospace()
        << "key " << key << " on " << call << ": entry " << outcome.entryId << (done ? "" : " not stored");
    if (done) {
        entryId = outcome.entryId;
        noteNetKey(key, call);
        if (!outcome.adoptedAt.isEmpty())
            w.statusBar->showMessage(call + " was already checked in at " + outcome.adoptedAt
                                         + "; no second check-in was logged.",
                                     Trel::StatusMessageMs);
    }

    showNet();
    emit netChanged();
    emit contactsChanged();

    // After a failed write the entry stays as typed so nothing is lost and
    // Enter can try again; clearing it would store it once more and report
    // the same failure a second time.
    if ((key & FromSearch) && done) {
        w.search->setFocus(Qt::OtherFocusReason);
        emit entryDone();
    }
}

void CheckInDesk::showNet()
{
    showNet(activeId);
}

// The lines of the net list, coloured by role from the theme (or the list's
// own palette before a theme is applied).
QList<CheckInDesk::DrawnLine> CheckInDesk::netLines(int marked, int &checkedCount) const
{
    const QPalette palette = w.checkins->palette();
    const QColor text = palette.color(QPalette::Text);
    const QColor base = palette.color(QPalette::Base);
    const ThemeColours &c = theme->colours();
    const NetLineFallback window{text, base, palette.color(QPalette::Link), palette.color(QPalette::Mid),
                                 palette.color(QPalette::Midlight)};
    const auto ink = [&](Ink role) { return netInk(c, role, window); };
    const auto paper = [&](Paper role) { return netPaper(c, role, window); };

    // Before any line sets a weight the list's own font applies.
    bool weightSet = false;
    int weight = QFont::Normal;

    QList<DrawnLine> lines;
    int n = 0;
    checkedCount = 0;
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
    return lines;
}

// A key changes a line or two of a list of dozens: only those are
// rewritten, the rest of the view and its layout stay.
void CheckInDesk::drawLines(const QList<DrawnLine> &lines)
{
    QTextEdit *list = w.checkins;
    QTextDocument *document = list->document();
    const qsizetype kept = std::min(drawnNet.size(), lines.size());
    const bool whole =
        kept == 0 || document->blockCount() != drawnNet.size() || document->characterCount() != drawnNetChars;
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
}

// The marked line is the one numbered like the active row's id, or the
// last line when the list is shorter.
void CheckInDesk::markLine(int marked, int count)
{
    if (count <= 0)
        return;
    QTextEdit *list = w.checkins;
    const int line = qBound(1, marked, count);
    // Moving the cursor costs a repaint of both lines: only when it moves.
    const QTextCursor at = list->textCursor();
    const QTextBlock block = list->document()->findBlockByNumber(line - 1);
    if (at.hasSelection() || at.position() != block.position())
        list->setTextCursor(QTextCursor(block));
    list->ensureCursorVisible();
}

void CheckInDesk::showNet(int marked)
{
    int checkedCount = 0;
    const QList<DrawnLine> lines = netLines(marked, checkedCount);
    drawLines(lines);
    markLine(marked, int(lines.size()));
    w.checks->setText(QString::number(checkedCount));
}

QString CheckInDesk::stationType(const QString &call) const
{
    return logLetter(storage.netLog().netStatus(call).value_or(0));
}

void CheckInDesk::roleKey(int role)
{
    storeEntry(role | (w.search->hasFocus() ? FromSearch : 0));
}

void CheckInDesk::relay()
{
    roleKey(Relay);
}

void CheckInDesk::traffic()
{
    roleKey(Traffic);
}

void CheckInDesk::mobile()
{
    roleKey(Mobile);
}

void CheckInDesk::shortTime()
{
    roleKey(Short);
}

void CheckInDesk::netControl()
{
    roleKey(Ncs);
}

void CheckInDesk::logContact()
{
    storeEntry(CheckToggle | FromSearch | CheckedIn);
}

void CheckInDesk::checkIn()
{
    storeEntry(CheckIn | FromSearch | CheckedIn);
}

void CheckInDesk::relayVia()
{
    w.relay->setFocus(Qt::OtherFocusReason);
    w.relay->clear();
    w.relay->setModified(true);
}

void CheckInDesk::showCheckInData()
{
    QWidget *window = w.checkInData;
    window->setWindowFlags(Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle(QStringLiteral("Check-Ins Raw Data"));
    window->show();
    window->raise();
    w.search->setFocus(Qt::OtherFocusReason);
}

void CheckInDesk::readSettings(QSettings &settings)
{
    reminderOn = settings.value(Trel::Key::IdReminder, true).toBool();
}

void CheckInDesk::writeSettings(QSettings &settings) const
{
    settings.setValue(Trel::Key::IdReminder, reminderOn);
}
