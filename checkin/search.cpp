#include "app/trelvin.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"
#include "lookup/lookupcontroller.h"
#include "ui_trelvin.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>

namespace {

// Lines drawn before a keystroke returns, counted from the first line in
// view; the rest of a long list is added in slices from the event loop.
constexpr int ImmediateLines = 1000;
constexpr int SliceLines = 500;

// Bumped whenever the list is emptied, so that the slices of an older list stop.
int candidateListGeneration = 0;

struct CandidateColours {
    int highlightedId;
    QColor highlighted;
    QColor other;
};

int clearCandidateList(QTextEdit *list)
{
    if (!list->document()->isEmpty())
        list->clear();
    return ++candidateListGeneration;
}

// Appends up to `limit` candidates with an id above `afterId`, one call per
// line, consecutive lines of one colour as one insertion. Returns the id of
// the last candidate appended (`afterId` when there was none); `drawn`
// counts the lines in the list.
int appendCandidates(QTextEdit *list, const Storage &storage, const CandidateColours &colours, int afterId, int limit,
                     int &drawn)
{
    struct Run {
        bool highlighted;
        QString text;
    };
    QList<Run> runs;
    int lastId = afterId;
    for (const ContactStore::Candidate &candidate : storage.contacts().candidates(afterId, limit)) {
        lastId = candidate.id;
        const bool highlighted = lastId == colours.highlightedId;
        if (runs.isEmpty() || runs.last().highlighted != highlighted)
            runs.append({highlighted, QString()});
        QString &text = runs.last().text;
        if (drawn > 0)
            text += QLatin1Char('\n');
        text += candidate.call;
        ++drawn;
    }

    QTextCursor cursor(list->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const Run &run : runs) {
        // Before a theme is applied the colours are invalid: keep the widget's own.
        const QColor &colour = run.highlighted ? colours.highlighted : colours.other;
        QTextCharFormat format;
        if (colour.isValid())
            format.setForeground(colour);
        cursor.insertText(run.text, format);
    }
    cursor.endEditBlock();
    return lastId;
}

void drawRemainingCandidates(QTextEdit *list, const Storage &storage, const CandidateColours &colours, int generation,
                             int afterId)
{
    // The list is the context: a slice never outlives the window, nor the
    // storage the window holds.
    QTimer::singleShot(0, list, [list, &storage, colours, generation, afterId] {
        if (generation != candidateListGeneration)
            return;
        int drawn = 1; // the list is not empty: every slice starts a new line
        const int lastId = appendCandidates(list, storage, colours, afterId, SliceLines, drawn);
        if (lastId != afterId)
            drawRemainingCandidates(list, storage, colours, generation, lastId);
    });
}

// Operator edits in the entry that must not be lost when it is left.
bool entryModified(const Ui::Trelvin *ui)
{
    return ui->name->isModified() || ui->city->isModified() || ui->state->isModified() || ui->qso->isModified()
           || ui->relay->isModified();
}

} // namespace

// One arrow or page key: the net list while there is at most one candidate,
// the candidates otherwise.
void Trelvin::step(Storage::Seek seek)
{
    if (candidateCount <= 1) {
        if (entryModified(ui))
            addContact(NetRules::StoreOnly);
        if (const std::optional<int> id = storage.netLog().netId(seek, activeID))
            markEntry(*id);
        // Also without a row, so that the first or last entry is shown again.
        selectContact(activeID);
    }
    if (candidateCount >= 2) {
        if (const std::optional<ContactStore::Candidate> candidate = storage.contacts().candidate(seek, candidateCursor)) {
            candidateCursor = candidate->id;
            displayContact(candidate->call, 2);
            displayCandidates();
        }
    }
}

void Trelvin::on_search_textEdited(QString arg1)
{
    const int position = ui->search->cursorPosition();
    ui->search->setText(arg1.toUpper());
    ui->search->setCursorPosition(position);
    const QString text = ui->search->text();

    entryId = 0;
    candidateCount = 0;
    lookups->cancelRefinement();
    candidateCursor = 0;
    ui->lb_candidate->setText(QStringLiteral("Candidates"));
    clearCandidateList(ui->callsigns);

    // A blank typed after a call asks for that call alone, not for every
    // longer call that contains it.
    const QString trimmed = text.trimmed();
    ContactStore::Found found;
    if (arg1.isEmpty())
        storage.contacts().clearCandidates();
    else
        found = storage.contacts().findCandidates(trimmed, text != trimmed);
    candidateCount = found.count;

    if (!arg1.isEmpty())
        displayCandidates();
    // A search that could not read is no proof that the call is unknown.
    if (!found.result.ok()) {
        ui->lb_candidate->setText(QStringLiteral("Failed"));
        reportReadFailure("Search for '" + text + "'", found.result);
    }

    if (candidateCount == 1) {
        const std::optional<ContactStore::Candidate> only = storage.contacts().candidate(Storage::Seek::Last);
        const QString onlyCall = only ? only->call : QString();
        displayContact(onlyCall, 2);
        currentCall = onlyCall;
        if (const std::optional<NetEntry> entry = storage.netLog().netEntryByCall(onlyCall))
            entryId = entry->id;
    } else {
        displayContact(QString(), 0);
        currentCall.clear();
    }

    // A call that no contact has may be in the offline call book; a network
    // look-up refines it once the search stays on it.
    if (candidateCount == 0 && found.result.ok() && !trimmed.isEmpty() && showCallBookRecord(trimmed)) {
        lookups->refineSoon(trimmed);
    }
}

void Trelvin::displayCandidates()
{
    if (ui->search->text().isEmpty())
        ui->lb_candidate->setText(QStringLiteral("Candidates"));
    else if (candidateCount > 0)
        ui->lb_candidate->setText(QStringLiteral("%1 Match").arg(candidateCount));
    else
        ui->lb_candidate->setText(QStringLiteral("No Match"));

    QTextEdit *list = ui->callsigns;
    const int generation = clearCandidateList(list);

    const int lines = storage.contacts().candidateCount();

    // The view opens about six lines above the highlighted candidate: the
    // cursor goes that far up from the last line, and the list scrolls up
    // from its bottom only as far as needed to show it.
    int target = std::max(lines - 1, 0);
    if (candidateCount - candidateCursor >= -5)
        target = std::max(target - (candidateCount - candidateCursor + 6), 0);

    const CandidateColours colours{candidateCursor, palettes->colours().normalText, palettes->colours().checkedText};
    int drawn = 0;
    const int lastId = appendCandidates(list, storage, colours, 0, target + ImmediateLines, drawn);

    list->setTextCursor(QTextCursor(list->document()->findBlockByNumber(target)));
    QScrollBar *bar = list->verticalScrollBar();
    bar->setValue(bar->maximum());
    list->ensureCursorVisible();

    // Everything past the view follows without holding up the keyboard.
    if (drawn < lines)
        drawRemainingCandidates(list, storage, colours, generation, lastId);
}

void Trelvin::on_search_returnPressed()
{
    if (ui->call->text().isEmpty()) {
        ui->call->setText(ui->search->text().toUpper().trimmed());
        // The fragment typed stands for the one station it found.
        if (candidateCount == 1)
            setClipped(ui->call, currentCall);
    }
    addContact(NetRules::StoreOnly);
    ui->search->clear();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::selectSearch()
{
    if (entryModified(ui))
        addContact(NetRules::StoreOnly);
    ui->search->clear();
    // An empty search clears the contact shown as well.
    on_search_textEdited(ui->search->text());
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::topContact()
{
    step(Storage::Seek::First);
}

void Trelvin::previousContact()
{
    step(Storage::Seek::Previous);
}

void Trelvin::nextContact()
{
    step(Storage::Seek::Next);
}

void Trelvin::endContact()
{
    step(Storage::Seek::Last);
}

void Trelvin::selectContact(int id)
{
    const std::optional<QString> call = storage.netLog().netCall(id);
    if (!call)
        return;
    entryId = id;

    displayContact(*call, 2);
    setClipped(ui->delCon, *call);
    displayNet(id);

    // A known station is ready for its comment; an unknown one needs its details.
    if (!ui->name->text().isEmpty())
        ui->qso->setFocus(Qt::OtherFocusReason);
    else
        ui->call->setFocus(Qt::OtherFocusReason);
}
