#include "app/indexbuilder.h"

#include "app/constants.h"
#include "app/logging.h"
#include "data/storage.h"
#include "jobs/background.h"

#include <QStatusBar>
#include <QTimer>

#include <memory>

IndexBuilder::IndexBuilder(const Widgets &widgets, const Storage &store, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), host(std::move(hooks))
{
}

void IndexBuilder::buildSoon(const QList<QByteArray> &creates)
{
    if (creates.isEmpty())
        return;
    const QString path = storage.contactsDb().databaseName();
    QTimer::singleShot(0, this, [this, path, creates] {
        // The file may have been closed (exit) or changed meanwhile.
        if (!storage.contactsOpen() || storage.contactsDb().databaseName() != path)
            return;
        if (host.jobRunning()) {
            qCInfo(lcStorage) << "Indexes of" << path << "left to the next start: another job runs";
            return;
        }
        build(path, creates);
    });
}

void IndexBuilder::build(const QString &path, const QList<QByteArray> &creates)
{
    auto outcome = std::make_shared<Storage::Loaded>();
    const qsizetype total = creates.size();
    host.runFileWork(
        QStringLiteral("Indexing the contacts"), QStringLiteral("Indexing the contacts..."),
        QStringLiteral("Stop indexing; the indexes are built at the next start"), true,
        [outcome, path, creates, total](const std::atomic<bool> &cancelled, const std::function<void(int)> &progress) {
            Storage worker(workerConnectionName());
            outcome->result = worker.openWorker(path, true);
            if (outcome->result.ok())
                *outcome = worker.contacts().buildIndexes(creates, &cancelled,
                                                          [&](int built) { progress(int(built * 1000 / total)); });
        },
        [this, outcome, path] {
            qCDebug(lcStorage).nospace() << "Indexes of " << path << ": " << outcome->rows << " built"
                                         << (outcome->cancelled ? " (cancelled)" : "");
            if (!outcome->result.ok()) {
                emit errorLine("Contacts database '" + path + "': its indexes could not be built ("
                               + outcome->result.error + "); look-ups stay slow until the next start.");
            } else if (outcome->cancelled) {
                w.statusBar->showMessage(
                    QStringLiteral("Indexing the contacts cancelled; the indexes are built at the next start."),
                    Trel::StatusMessageMs);
            }
        });
}
