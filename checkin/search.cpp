#include "app/trelvin.h"
#include "checkin/textrules.h"
#include "data/schema.h"
#include "ui_trelvin.h"

#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
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
    list->clear();
    return ++candidateListGeneration;
}

// Appends up to `limit` candidates with an id above `afterId`, one call per
// line, consecutive lines of one colour as one insertion. Returns the id of
// the last candidate appended (`afterId` when there was none); `drawn`
// counts the lines in the list.
int appendCandidates(QTextEdit *list, const QSqlDatabase &memoryDb, const CandidateColours &colours, int afterId,
                     int limit, int &drawn)
{
    struct Run {
        bool highlighted;
        QString text;
    };
    QList<Run> runs;
    QSqlQuery query(memoryDb);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, call FROM candidate WHERE id > ? ORDER BY id LIMIT ?"));
    query.addBindValue(afterId);
    query.addBindValue(limit);
    int lastId = afterId;
    if (query.exec()) {
        while (query.next()) {
            lastId = query.value(0).toInt();
            const bool highlighted = lastId == colours.highlightedId;
            const QString call = query.value(1).toString();
            if (runs.isEmpty() || runs.last().highlighted != highlighted)
                runs.append({highlighted, QString()});
            QString &text = runs.last().text;
            if (drawn > 0)
                text += QLatin1Char('\n');
            text += call;
            ++drawn;
        }
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

void drawRemainingCandidates(QTextEdit *list, const QSqlDatabase &memoryDb, const CandidateColours &colours,
                             int generation, int afterId)
{
    // The list is the context: a slice never outlives the window.
    QTimer::singleShot(0, list, [list, memoryDb, colours, generation, afterId] {
        if (generation != candidateListGeneration)
            return;
        int drawn = 1; // the list is not empty: every slice starts a new line
        const int lastId = appendCandidates(list, memoryDb, colours, afterId, SliceLines, drawn);
        if (lastId != afterId)
            drawRemainingCandidates(list, memoryDb, colours, generation, lastId);
    });
}

// Operator edits in the entry that must not be lost when it is left.
bool entryModified(const Ui::Trelvin *ui)
{
    return ui->name->isModified() || ui->city->isModified() || ui->state->isModified() || ui->qso->isModified()
           || ui->relay->isModified();
}

// One arrow or page key: the net list while there is at most one candidate,
// the candidates otherwise. `bindCursor` says whether the statements take the
// current position as their parameter.
void step(Trelvin &w, const QString &netStatement, const QString &candidateStatement, bool bindCursor)
{
    if (w.candidateCount <= 1) {
        if (entryModified(w.ui))
            w.addContact(128);
        QSqlQuery query(w.memoryDb);
        query.prepare(netStatement);
        if (bindCursor)
            query.addBindValue(w.activeID);
        if (query.exec() && query.next())
            w.activeID = query.value(0).toInt();
        // Also without a row, so that the first or last entry is shown again.
        w.selectContact(w.activeID);
    }
    if (w.candidateCount >= 2) {
        QSqlQuery query(w.memoryDb);
        query.prepare(candidateStatement);
        if (bindCursor)
            query.addBindValue(w.candidateCursor);
        if (query.exec() && query.next()) {
            w.candidateCursor = query.value(QStringLiteral("id")).toInt();
            w.displayContact(query.value(QStringLiteral("call")).toString(), 2);
            w.displayCandidates();
        }
    }
}

} // namespace

void Trelvin::on_search_textEdited(QString arg1)
{
    const int position = ui->search->cursorPosition();
    ui->search->setText(arg1.toUpper());
    ui->search->setCursorPosition(position);
    const QString text = ui->search->text();

    entryId = 0;
    candidateCount = 0;
    candidateCursor = 0;
    ui->lb_candidate->setText(QStringLiteral("Candidates"));
    clearCandidateList(ui->callsigns);

    // A blank typed after a call asks for that call alone, not for every
    // longer call that contains it. What was typed is matched literally; an
    // escape character costs every row about a tenth more, so only a text
    // with a wildcard character in it is escaped.
    const QString trimmed = text.trimmed();
    const bool escaped = trimmed.contains(QLatin1Char('%')) || trimmed.contains(QLatin1Char('_'));
    const QString literal = escaped ? likeLiteral(trimmed) : trimmed;
    const QString pattern = text == trimmed ? QLatin1Char('%') + literal + QLatin1Char('%') : literal;
    const QString matches = escaped ? QStringLiteral("call LIKE ? ESCAPE '\\'") : QStringLiteral("call LIKE ?");

    // A short fragment can match a large share of the contacts, too many to
    // pass one by one through the driver: with Contacts.db attached to the
    // in-memory database the matches are copied inside SQLite.
    const bool attached = !arg1.isEmpty() && fileDb.isOpen() && contactsAttached;

    // The row-by-row copy needs one transaction around its inserts; the copy
    // inside SQLite is one statement and its own transaction.
    const bool transaction = !attached && !arg1.isEmpty();
    if (transaction)
        memoryDb.transaction();
    QSqlError failure;
    {
        QSqlQuery candidates(memoryDb);
        // Emptied rather than dropped and created again, which would change
        // the schema and make SQLite prepare every statement anew; the ids
        // start at 1 again either way.
        if (!candidates.exec(QStringLiteral("DELETE FROM candidate")))
            candidates.exec(QString::fromLatin1(Schema::CreateCandidate));
        if (attached) {
            candidates.prepare("INSERT INTO candidate (id, call) SELECT NULL, call FROM contacts.contact WHERE "
                               + matches);
            candidates.addBindValue(pattern);
            if (candidates.exec())
                candidateCount = std::max(candidates.numRowsAffected(), 0);
            else
                failure = candidates.lastError();
        } else if (!arg1.isEmpty()) {
            candidates.prepare(QStringLiteral("INSERT INTO candidate (id, call) VALUES (NULL, ?)"));
            QSqlQuery found(fileDb);
            found.setForwardOnly(true);
            found.prepare("SELECT call FROM contact WHERE " + matches);
            found.addBindValue(pattern);
            if (found.exec()) {
                while (found.next()) {
                    candidates.addBindValue(found.value(0));
                    if (candidates.exec())
                        ++candidateCount;
                }
            }
            // Without a database the start-up box has said so already.
            if (found.lastError().isValid() && fileDb.isOpen())
                failure = found.lastError();
        }
    }
    if (transaction)
        memoryDb.commit();

    if (!arg1.isEmpty())
        displayCandidates();
    // A search that could not read is no proof that the call is unknown.
    if (failure.isValid()) {
        ui->lb_candidate->setText(QStringLiteral("Failed"));
        reportReadFailure("Search for '" + text + "'", failure);
    }

    if (candidateCount == 1) {
        QString onlyCall;
        QSqlQuery only(memoryDb);
        if (only.exec(QStringLiteral("SELECT call FROM candidate ORDER BY id DESC LIMIT 1")) && only.next())
            onlyCall = only.value(0).toString();
        displayContact(onlyCall, 2);
        currentCall = onlyCall;
        QSqlQuery net(memoryDb);
        net.prepare(QStringLiteral("SELECT id FROM net WHERE call = ?"));
        net.addBindValue(onlyCall);
        if (net.exec() && net.next())
            entryId = net.value(0).toInt();
    } else {
        displayContact(QString(), 0);
        currentCall.clear();
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

    int lines = 0;
    {
        QSqlQuery count(memoryDb);
        if (count.exec(QStringLiteral("SELECT COUNT(*) FROM candidate")) && count.next())
            lines = count.value(0).toInt();
    }

    // The view opens about six lines above the highlighted candidate: the
    // cursor goes that far up from the last line, and the list scrolls up
    // from its bottom only as far as needed to show it.
    int target = std::max(lines - 1, 0);
    if (candidateCount - candidateCursor >= -5)
        target = std::max(target - (candidateCount - candidateCursor + 6), 0);

    const CandidateColours colours{candidateCursor, normalTextColor, checkedTextColor};
    int drawn = 0;
    const int lastId = appendCandidates(list, memoryDb, colours, 0, target + ImmediateLines, drawn);

    list->setTextCursor(QTextCursor(list->document()->findBlockByNumber(target)));
    QScrollBar *bar = list->verticalScrollBar();
    bar->setValue(bar->maximum());
    list->ensureCursorVisible();

    // Everything past the view follows without holding up the keyboard.
    if (drawn < lines)
        drawRemainingCandidates(list, memoryDb, colours, generation, lastId);
}

void Trelvin::on_search_returnPressed()
{
    if (ui->call->text().isEmpty()) {
        ui->call->setText(ui->search->text().toUpper().trimmed());
        // The fragment typed stands for the one station it found.
        if (candidateCount == 1)
            setClipped(ui->call, currentCall);
    }
    addContact(128);
    ui->search->clear();
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::selectSearch()
{
    if (entryModified(ui))
        addContact(128);
    ui->search->clear();
    on_search_textEdited(ui->search->text());
    displayContact(QString(), 0);
    ui->search->setFocus(Qt::OtherFocusReason);
}

void Trelvin::topContact()
{
    step(*this, QStringLiteral("SELECT id FROM net ORDER BY id LIMIT 1"),
         QStringLiteral("SELECT * FROM candidate ORDER BY id LIMIT 1"), false);
}

void Trelvin::previousContact()
{
    step(*this, QStringLiteral("SELECT id FROM net WHERE id < ? ORDER BY id DESC LIMIT 1"),
         QStringLiteral("SELECT * FROM candidate WHERE id < ? ORDER BY id DESC LIMIT 1"), true);
}

void Trelvin::nextContact()
{
    step(*this, QStringLiteral("SELECT id FROM net WHERE id > ? ORDER BY id LIMIT 1"),
         QStringLiteral("SELECT * FROM candidate WHERE id > ? ORDER BY id LIMIT 1"), true);
}

void Trelvin::endContact()
{
    step(*this, QStringLiteral("SELECT id FROM net ORDER BY id DESC LIMIT 1"),
         QStringLiteral("SELECT * FROM candidate ORDER BY id DESC LIMIT 1"), false);
}

void Trelvin::selectContact(int id)
{
    QSqlQuery query(memoryDb);
    query.prepare(QStringLiteral("SELECT call FROM net WHERE id=?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return;
    entryId = id;
    const QString call = query.value(0).toString();

    displayContact(call, 2);
    setClipped(ui->delCon, call);
    displayNet(id);

    // A known station is ready for its comment; an unknown one needs its details.
    if (!ui->name->text().isEmpty())
        ui->qso->setFocus(Qt::OtherFocusReason);
    else
        ui->call->setFocus(Qt::OtherFocusReason);
}

QString Trelvin::justifyDigit(QString call)
{
    return ::justifyDigit(call);
}
