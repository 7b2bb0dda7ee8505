#include "sync/syncrecords.h"

#include <QSqlQuery>
#include <QVariant>

SyncChange syncChangeFrom(const QSqlQuery &row, int first)
{
    SyncChange change;
    int column = first;
    const auto next = [&] { return row.value(column++); };
    change.id = next().toString();
    change.net = next().toString();
    change.origin = next().toString();
    change.kind = next().toString();
    change.call = next().toString();
    change.status = next().toInt();
    change.name = next().toString();
    change.city = next().toString();
    change.state = next().toString();
    change.comment = next().toString();
    change.relay = next().toString();
    change.time = next().toString();
    change.logged = next().toBool();
    change.logDate = next().toString();
    change.logTime = next().toString();
    change.logStatus = next().toString();
    change.made = next().toString();
    return change;
}
