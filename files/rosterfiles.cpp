#include "files/filescontroller.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "checkin/textrules.h"
#include "data/csv.h"
#include "data/schema.h"
#include "files/csvinput.h"
#include "files/filewriting.h"
#include "jobs/background.h"

#include <QDate>
#include <QFileInfo>
#include <QSet>
#include <QStatusBar>

#include <algorithm>
#include <memory>

namespace {
const char RosterHeader[] =
    "\"Call\",\"First\",\"Last\",\"Class\",\"Expire\",\"Address\",\"City\",\"St\",\"Zip\",\"Country\","
    "\"Email\",\"Phone\",\"Lat\",\"Lon\",\"Grid\",\"Source\",\"UTC\",\"DST\",\"Born\"\n";
const char RosterFilter[] = "Roster Files (Roster*.csv);;All Files (*.*)";
const int PhoneField = 11;
// As long as the window's other status-bar notes.
} // namespace

void FilesController::emptyRoster()
{
    host.stored(storage.roster().clearMembers(), QStringLiteral("Emptying the club roster"));
}

QString FilesController::clubRosterFile() const
{
    return host.dataDir() + "/Roster-" + host.club() + ".csv";
}

void FilesController::reportUnreadableRoster(const QString &fileName)
{
    Prompter::instance()->message(
        Prompter::Critical, QStringLiteral("Can't Open File"),
        "File '" + fileName
            + "'\nCould not be Opened.\n\nYou can create 'Roster-{club}.csv' in 3 ways:\n 1. 'Ctrl +' during Net to "
              "add contacts to Roster,\n 2. Manually edit 'Roster-{club}.csv' file\n    (file created when program "
              "terminates),\n 3. Use Menu Item: 'Setup->Roster QRZ Data'\n    to read 'Callsigns-{club}.csv' file "
              "and\n    retrieve data from the QRZ database.");
    emit errorLine("File '" + fileName + "' Could not be Opened.");
}

namespace {
const char RosterKept[] = "The club roster was left as it was.";

// A roster line names a member when its first field holds a call sign, and
// every call sign has a letter: this keeps the dates of a net-log file and
// blank lines out of the roster.
bool namesStation(QByteArrayView call)
{
    return std::any_of(call.begin(), call.end(),
                       [](char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); });
}

QString noMemberReason(const LineTally &tally)
{
    return tally.reason(QStringLiteral("This is a net-log file (%1 fields a line); a roster file has %2, the first a "
                                       "call sign.")
                            .arg(Schema::LogFields)
                            .arg(Schema::ContactFields),
                        QStringLiteral("No line starts with a call sign."));
}

// The call signs one roster file named so far, compared as the roster
// compares them (ASCII letters without case): a call listed again makes no
// second member, however often it comes.
class NamedCalls {
public:
    // True when `call` was named before; the line is then skipped.
    bool repeated(QByteArrayView call)
    {
        QByteArray key = call.toByteArray().toUpper();
        if (seen.contains(key)) {
            ++repeats;
            return true;
        }
        seen.insert(std::move(key));
        return false;
    }
    // The error-log line that counts the repeats; empty when there were none.
    QString summary(const QString &fileName) const
    {
        return repeats == 0 ? QString()
                            : QStringLiteral("Roster file '%1' names a call sign again on %2 lines; they were skipped.")
                                  .arg(fileName)
                                  .arg(repeats);
    }

private:
    QSet<QByteArray> seen;
    qint64 repeats = 0;
};

// Counts a roster line into `tally`; true when it names a member.
bool countMember(const CsvInput &input, LineTally &tally)
{
    if (input.isBlank())
        return false;
    ++tally.filled;
    if (input.size() == Schema::LogFields)
        ++tally.otherKind;
    if (!namesStation(input.utf8(0)))
        return false;
    ++tally.taken;
    return true;
}
} // namespace

void FilesController::loadMembers(const QString &fileName)
{
    // The roster in memory belongs to the club whose file this is, read or not.
    storage.journal().setRosterClub(host.club());
    emptyRoster();
    unreadRoster.clear();

    QFile file(fileName);
    if (!fileName.isEmpty() && file.open(QIODevice::ReadOnly)) {
        CsvInput input(file);
        const FileText content = input.content();
        LineTally tally;
        NamedCalls named;
        Storage::Result added;
        if (content == FileText::Text) {
            input.skipLine();
            added = storage.roster()
                        .addMembers([&]() -> const CsvBytes * {
                            while (input.next()) {
                                if (countMember(input, tally) && !named.repeated(input.utf8(0)))
                                    return &input.fields();
                            }
                            return nullptr;
                        })
                        .result;
            if (added.ok() && !named.summary(fileName).isEmpty())
                emit errorLine(named.summary(fileName));
        }
        if (!added.ok()) {
            // Members missing from memory would be missing from the file
            // written at exit.
            unreadRoster = fileName;
            host.stored(added, "Loading roster " + fileName);
        } else if (content != FileText::Empty && tally.taken == 0 && (content != FileText::Text || tally.filled > 0)) {
            // A file with only its header is an empty roster; anything else
            // that gave no member is kept for the operator to look at.
            unreadRoster = fileName;
            emit errorLine("Roster file '" + fileName + "' gave no member: "
                           + (content == FileText::Text ? noMemberReason(tally) : refusalReason(content))
                           + " The roster is empty; the file is left as it is.");
        }
    } else {
        reportUnreadableRoster(fileName);
    }
    emit rosterChanged();
}

struct RosterFileLoad {
    LineTally tally;
    QStringList log;
    QStringList members;
    Storage::Loaded loaded;
};

namespace {
// The next member line of `input`, counted into the tally, or null at the
// end or on Cancel. A line without the contact fields still names a member.
const RosterStore::RosterLine *nextRosterLine(CsvInput &input, RosterStore::RosterLine &line, LineTally &tally,
                                              NamedCalls &named, LineLog &log, qint64 &lineNumber,
                                              const QString &fileName, const std::atomic<bool> &cancelled)
{
    while (input.next()) {
        // A long run of skipped lines stops on Cancel too.
        if (cancelled.load(std::memory_order_relaxed))
            return nullptr;
        ++lineNumber;
        if (!countMember(input, tally)) {
            if (!input.isBlank())
                log.skipped(QStringLiteral("Roster file '%1' line %2 has no call sign in its first field; the line "
                                           "was skipped.")
                                .arg(fileName)
                                .arg(lineNumber));
            continue;
        }
        if (named.repeated(input.utf8(0)))
            continue;
        if (input.converted())
            log.converted(lineNumber);
        line.fields = &input.fields();
        line.withContact = input.size() == Schema::ContactFields;
        line.phone = line.withContact ? digitsOnly(input.string(PhoneField)) : QString();
        if (!line.withContact) {
            log.skipped(QStringLiteral("Roster file '%1' line %2 has %3 fields instead of %4; its contact data was "
                                       "not stored.")
                            .arg(fileName)
                            .arg(lineNumber)
                            .arg(input.size())
                            .arg(Schema::ContactFields));
        }
        return &line;
    }
    return nullptr;
}

// The worker's part of a roster load: the contacts take the file's data on
// a connection of its own, in one transaction, so that the roster and the
// contacts take the whole file or nothing of it.
void readRosterFile(RosterFileLoad &outcome, const QString &fileName, const QString &path, bool onThread,
                    const std::atomic<bool> &cancelled, const std::function<void(int)> &progress)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.loaded.result = Storage::Result::failed(Storage::Result::ReadFailed, file.errorString());
        return;
    }
    Storage worker(workerConnectionName());
    outcome.loaded.result = worker.openWorker(path, onThread);
    if (!outcome.loaded.result.ok() || !(outcome.loaded.result = worker.createMemoryTables()).ok())
        return;
    CsvInput input(file);
    const qint64 size = qMax<qint64>(1, file.size());
    LineLog log([&outcome](const QString &text) { outcome.log.append(text); }, fileName,
                QStringLiteral("... and %1 more lines of '%2' were skipped or kept without contact data"));
    input.skipLine();
    qint64 lineNumber = 1;
    NamedCalls named;
    RosterStore::RosterLine line;
    outcome.loaded = worker.roster().loadRoster(
        [&]() -> const RosterStore::RosterLine * {
            if (cancelled.load(std::memory_order_relaxed))
                return nullptr;
            progress(int(input.position() * 1000 / size));
            return nextRosterLine(input, line, outcome.tally, named, log, lineNumber, fileName, cancelled);
        },
        &cancelled);
    if (outcome.loaded.cancelled)
        return;
    log.finish();
    if (!named.summary(fileName).isEmpty())
        outcome.log.append(named.summary(fileName));
    if (outcome.loaded.result.ok())
        outcome.members = worker.roster().memberCalls();
}
} // namespace

bool FilesController::rosterReadable(const QString &fileName)
{
    FileText content = FileText::Text;
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            reportUnreadableRoster(fileName);
            return false;
        }
        // The members are replaced only by a file that gives at least one.
        content = CsvInput(file).content();
    }
    if (content != FileText::Text) {
        reportNothingLoaded(fileName, refusalReason(content), QString::fromLatin1(RosterKept));
        return false;
    }
    return true;
}

void FilesController::loadRoster(const QString &fileName)
{
    if (fileName.isEmpty() || !rosterReadable(fileName) || host.refuseBulkJob())
        return;
    // The roster in memory follows on the window's thread once the contacts
    // are stored.
    const QString path = storage.contactsDb().databaseName();
    const bool onThread = QFileInfo(fileName).size() > inlineFileBytes;
    auto outcome = std::make_shared<RosterFileLoad>();
    host.runFileWork(
        QStringLiteral("Loading the club roster"), QStringLiteral("Loading Club Roster Data..."),
        QStringLiteral("Stop loading the roster; the roster and the contacts are left as they were"), onThread,
        [outcome, fileName, path, onThread](const std::atomic<bool> &cancelled,
                                            const std::function<void(int)> &progress) {
            readRosterFile(*outcome, fileName, path, onThread, cancelled, progress);
        },
        [this, outcome, fileName] { finishRosterLoad(*outcome, fileName); });
}

void FilesController::finishRosterLoad(const RosterFileLoad &outcome, const QString &fileName)
{
    for (const QString &text : std::as_const(outcome.log))
        emit errorLine(text);
    Storage::Loaded loaded = outcome.loaded;
    qCDebug(lcFiles).noquote().nospace() << "roster from " << fileName << ": " << outcome.members.size()
                                         << " members of " << outcome.tally.filled << " lines"
                                         << (loaded.cancelled ? " (cancelled)" : "");
    if (loaded.cancelled) {
        w.statusBar->showMessage(QStringLiteral("Loading the club roster cancelled. ")
                                     + QString::fromLatin1(RosterKept),
                                 Trel::StatusMessageMs);
        return;
    }
    if (loaded.result.ok() && loaded.rows > 0) {
        // The contacts are stored; the roster in memory follows, and
        // the club server hears of the members it gained or lost.
        const QStringList before = storage.roster().memberCalls();
        Storage::Result members = storage.roster().setMembers(outcome.members);
        if (members.ok())
            members = storage.journal().journalRoster(before);
        if (!members.ok()) {
            loaded.result = members;
            loaded.result.fileStored = true;
        }
    }
    if (loaded.result.ok() && loaded.rows == 0) {
        reportNothingLoaded(fileName, noMemberReason(outcome.tally), QString::fromLatin1(RosterKept));
    } else if (loaded.result.fileStored) {
        host.stored(loaded.result, "Loading roster " + fileName);
    } else if (!loaded.result.ok()) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("Database Write Failed"),
                                      "The contacts database could not store this change:\nLoading roster " + fileName
                                          + "\n\nThe stored contacts were left as they were.");
        emit errorLine("Database write failed (Loading roster " + fileName + "): " + loaded.result.error);
    } else {
        unreadRoster.clear();
    }
    emit rosterChanged();
    emit contactsChanged();
}

void FilesController::saveRoster(const QString &fileName)
{
    // Nor is a roster file that could not be read replaced by an empty roster.
    if (storage.contactsOpen() && fileName == unreadRoster && !storage.roster().hasMembers()) {
        emit errorLine("Roster file '" + fileName
                       + "' was left as it was: it could not be read and the roster is empty.");
        return;
    }
    // The file holds the members' contact data, in roster order.
    saveRows(fileName, QString::fromLatin1(RosterHeader), [this](CsvWriter &out) {
        return storage.roster().eachMemberContact([&out](const StoredRow &row) { out.appendRecord(row, 1); });
    });
}

void FilesController::loadRosterFile()
{
    if (host.refuseBulkJob())
        return;
    const QString name = Prompter::instance()->openFileName(QStringLiteral("Open ARC Roster File"), host.dataDir(),
                                                            QString::fromLatin1(RosterFilter));
    if (!name.isEmpty())
        loadRoster(name);
}

void FilesController::saveRosterFile()
{
    const QString proposed = host.dataDir() + "/Roster-" + host.club() + "-"
                             + QDate::currentDate().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Current ARC Roster File"), proposed,
                                                            QString::fromLatin1(RosterFilter));
    if (!name.isEmpty())
        saveRoster(name);
}
