#include "checkin/checkindesk.h"

#include "app/logging.h"
#include "app/prompter.h"

#include <QLocale>

// A run that ended without the exit sequence (a crash, a kill, a power cut)
// leaves its net list in Contacts.db; the operator decides whether the net
// goes on where it stopped.
void CheckInDesk::offerResume()
{
    Storage::Result read;
    const std::optional<NetLogStore::InterruptedNet> net = storage.netLog().interruptedNet(&read);
    if (!read.ok()) {
        host.reportReadFailure(QStringLiteral("Resuming the interrupted net"), read);
        return;
    }
    if (!net)
        return;

    const QString first = net->firstEntry.isValid()
                              ? " Its first entry was made on " + net->firstEntry.toString(QStringLiteral("yyyy-MM-dd"))
                                    + " at " + net->firstEntry.toString(QStringLiteral("HH:mm")) + "."
                              : QString();
    const QString text = QStringLiteral("The last run ended without closing its net, which held %1 %2.")
                             .arg(net->stations)
                             .arg(net->stations == 1 ? QStringLiteral("station") : QStringLiteral("stations"))
                         + first + "\n\nResume that net?";
    const QMessageBox::StandardButton answer = Prompter::instance()->message(
        Prompter::Question, QStringLiteral("Resume Net"), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    qCDebug(lcCheckin) << "interrupted net of" << net->stations << "stations, resumed:" << (answer == QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
        activeId = storage.netLog().netMark().value_or(activeId);
        return;
    }
    // The log keeps its rows; only the list starts anew. A net shared with
    // other programs goes on there.
    host.stored(storage.journal().leaveNet(), QStringLiteral("Starting an empty net"));
}

void CheckInDesk::markEntry(int id)
{
    activeId = id;
    // The mark is restored with the net after a crash; it is worth a log
    // line when it cannot be stored, not a box on every arrow key.
    const Storage::Result result = storage.netLog().setNetMark(id);
    if (!result.ok())
        emit errorLine("Database write failed (Marking net entry " + QString::number(id) + "): " + result.error);
}

void CheckInDesk::closeNet()
{
    // The net has ended: the next start begins with an empty list. Were it
    // kept, the next start would offer it as interrupted. A net shared with
    // other programs goes on there.
    const Storage::Result cleared = storage.journal().leaveNet();
    qCDebug(lcCheckin) << "net closed, list cleared:" << cleared.ok();
    if (!cleared.ok())
        emit errorLine("Database write failed (Closing the net list): " + cleared.error);
}
