#include "checkin/callsearch.h"

#include "app/themes.h"
#include "checkin/checkindesk.h"
#include "checkin/netrules.h"
#include "checkin/textrules.h"

#include <QLabel>
#include <QLineEdit>

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

} // namespace

CallSearch::CallSearch(const Widgets &widgets, Storage &store, CheckInDesk *checkInDesk, const ThemeState *themeState,
                       Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), desk(checkInDesk), theme(themeState), host(std::move(hooks))
{
    // The candidates' colours follow the theme.
    connect(theme, &ThemeState::changed, this, &CallSearch::showCandidates);
    whole = new QTimer(this);
    whole->setInterval(20);
    connect(whole, &QTimer::timeout, this, &CallSearch::completeSearch);
}

void CallSearch::completeSearch()
{
    if (storage.contacts().callIndexReading())
        return;
    whole->stop();
    // Asked again once the index is in, unless the operator has moved on.
    if (partialAnswer && w.search->text() == partialText && cursorId == 0)
        searchEdited(QString(partialText)); // a copy: the search sets the member anew
}

void CallSearch::step(Storage::Seek seek)
{
    if (candidatesFound <= 1) {
        if (desk->entryModified())
            desk->storeEntry(NetRules::StoreOnly);
        if (const std::optional<int> id = storage.netLog().netId(seek, desk->markedEntry()))
            desk->markEntry(*id);
        // Also without a row, so that the first or last entry is shown again.
        selectContact(desk->markedEntry());
    }
    if (candidatesFound >= 2) {
        if (const std::optional<ContactStore::Candidate> candidate = storage.contacts().candidate(seek, cursorId)) {
            cursorId = candidate->id;
            showContact(candidate->call, 2);
            showCandidates();
        }
    }
}

void CallSearch::searchEdited(const QString &arg1)
{
    const int position = w.search->cursorPosition();
    w.search->setText(arg1.toUpper());
    w.search->setCursorPosition(position);
    const QString text = w.search->text();

    desk->setEntry(0);
    candidatesFound = 0;
    host.cancelRefinement();
    cursorId = 0;
    w.candidateLabel->setText(QStringLiteral("Candidates"));
    clearCandidateList(w.candidates);

    // A blank typed after a call asks for that call alone, not for every
    // longer call that contains it.
    const QString trimmed = text.trimmed();
    ContactStore::Found found;
    if (arg1.isEmpty())
        storage.contacts().clearCandidates();
    else
        found = storage.contacts().findCandidates(trimmed, text != trimmed, partialScanMs);
    candidatesFound = found.count;
    partialAnswer = found.partial;
    partialText = partialAnswer ? text : QString();
    if (partialAnswer)
        whole->start();

    if (!arg1.isEmpty())
        showCandidates();
    // A search that could not read is no proof that the call is unknown.
    if (!found.result.ok()) {
        w.candidateLabel->setText(QStringLiteral("Failed"));
        host.reportReadFailure("Search for '" + text + "'", found.result);
    }

    // The only candidate so far may not be the only one.
    if (candidatesFound == 1 && !partialAnswer) {
        const std::optional<ContactStore::Candidate> only = storage.contacts().candidate(Storage::Seek::Last);
        const QString call = only ? only->call : QString();
        showContact(call, 2);
        onlyCall = call;
        if (const std::optional<NetEntry> entry = storage.netLog().netEntryByCall(call))
            desk->setEntry(entry->id);
    } else {
        showContact(QString(), 0);
        onlyCall.clear();
    }

    // A call that no contact has may be in the offline call book; a network
    // look-up refines it once the search stays on it.
    if (candidatesFound == 0 && !partialAnswer && found.result.ok() && !trimmed.isEmpty()
        && showCallBookRecord(trimmed))
        host.refineSoon(trimmed);
}

void CallSearch::showCandidates()
{
    if (w.search->text().isEmpty())
        w.candidateLabel->setText(QStringLiteral("Candidates"));
    else if (partialAnswer && candidatesFound == 0)
        w.candidateLabel->setText(QStringLiteral("Searching..."));
    else if (partialAnswer)
        w.candidateLabel->setText(QStringLiteral("%1 Match so far").arg(candidatesFound));
    else if (candidatesFound > 0)
        w.candidateLabel->setText(QStringLiteral("%1 Match").arg(candidatesFound));
    else
        w.candidateLabel->setText(QStringLiteral("No Match"));

    QTextEdit *list = w.candidates;
    const int generation = clearCandidateList(list);

    const int lines = storage.contacts().candidateCount();

    // The view opens about six lines above the highlighted candidate: the
    // cursor goes that far up from the last line, and the list scrolls up
    // from its bottom only as far as needed to show it.
    int target = std::max(lines - 1, 0);
    if (candidatesFound - cursorId >= -5)
        target = std::max(target - (candidatesFound - cursorId + 6), 0);

    const CandidateColours colours{cursorId, theme->colours().normalText, theme->colours().checkedText};
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

void CallSearch::searchReturn()
{
    if (w.call->text().isEmpty()) {
        w.call->setText(w.search->text().toUpper().trimmed());
        // The fragment typed stands for the one station it found.
        if (candidatesFound == 1 && !partialAnswer)
            setClipped(w.call, onlyCall);
    }
    desk->storeEntry(NetRules::StoreOnly);
    w.search->clear();
    w.search->setFocus(Qt::OtherFocusReason);
}

void CallSearch::selectSearch()
{
    if (desk->entryModified())
        desk->storeEntry(NetRules::StoreOnly);
    w.search->clear();
    // An empty search clears the contact shown as well.
    searchEdited(w.search->text());
    w.search->setFocus(Qt::OtherFocusReason);
}

void CallSearch::topContact()
{
    step(Storage::Seek::First);
}

void CallSearch::previousContact()
{
    step(Storage::Seek::Previous);
}

void CallSearch::nextContact()
{
    step(Storage::Seek::Next);
}

void CallSearch::endContact()
{
    step(Storage::Seek::Last);
}

void CallSearch::selectContact(int id)
{
    const std::optional<QString> call = storage.netLog().netCall(id);
    if (!call)
        return;
    desk->setEntry(id);

    showContact(*call, 2);
    setClipped(w.delCon, *call);
    desk->showNet(id);

    // A known station is ready for its comment; an unknown one needs its details.
    if (!w.name->text().isEmpty())
        w.qso->setFocus(Qt::OtherFocusReason);
    else
        w.call->setFocus(Qt::OtherFocusReason);
}
