#include "sync/syncrecords.h"

#include <QJsonArray>
#include <QJsonDocument>
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
    change.data = next().toString();
    return change;
}

QString syncRosterData(const QString &club)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{club}).toJson(QJsonDocument::Compact));
}

bool syncDataFields(const QString &data, int count, QStringList &fields)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != count)
        return false;
    fields.clear();
    for (const QJsonValue &value : document.array()) {
        if (!value.isString() && !value.isNull())
            return false;
        fields.append(value.toString());
    }
    return true;
}
