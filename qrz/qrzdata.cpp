#include "app/trelvin.h"

#include <QSqlQuery>

// Every statement of the QRZ area, in one place: this station's row, the
// state centres and the records of a roster run.

namespace {

// Text of a coordinate of the state-centre table, as short as the value
// allows: the table keeps single-precision numbers.
QString coordinateText(const QVariant &value)
{
    return QString::number(value.toDouble(), 'g', 7);
}

} // namespace

QStringList Trelvin::readStation()
{
    QSqlQuery station(fileDb);
    if (!station.exec(QStringLiteral("SELECT * FROM station")) || !station.next())
        return {};
    QStringList row;
    for (const char *column : {"call", "passwd", "state", "lat", "lon", "grid", "utc", "dst"})
        row.append(station.value(QLatin1String(column)).toString());
    return row;
}

bool Trelvin::writeStation(const QStringList &row)
{
    QSqlQuery existing(fileDb);
    const bool known = existing.exec(QStringLiteral("SELECT * FROM station")) && existing.next();
    existing.finish();

    // The table holds one row: it is rewritten whole.
    QSqlQuery write(fileDb);
    if (known)
        write.prepare(
            QStringLiteral("UPDATE station SET call=?, passwd=?, state=?, lat=?, lon=?, grid=?, utc=?, dst=?"));
    else
        write.prepare(QStringLiteral("INSERT INTO station (call, passwd, state, lat, lon, grid, utc, dst) "
                                     "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QString &value : row)
        write.addBindValue(value);
    return execWrite(write, QStringLiteral("Saving station details"));
}

bool Trelvin::stateCentreText(const QString &state, QString &lat, QString &lon)
{
    QSqlQuery centre(memoryDb);
    centre.prepare(QStringLiteral("SELECT lat, lon FROM latlon WHERE st=?"));
    centre.addBindValue(state);
    if (!centre.exec() || !centre.next())
        return false;
    lat = coordinateText(centre.value(0));
    lon = coordinateText(centre.value(1));
    return true;
}

void Trelvin::storeRosterRecord(Qrz::CallRecord record)
{
    // The roster holds the call as QRZ spells it.
    const QString call = record.call;
    QSqlQuery member(memoryDb);
    member.prepare(QStringLiteral("INSERT INTO mbr (id, call) VALUES (NULL, ?)"));
    member.addBindValue(call);
    member.exec();

    QSqlQuery stored(fileDb);
    stored.prepare(QStringLiteral("SELECT * FROM contact WHERE call=?"));
    stored.addBindValue(call);
    const bool known = stored.exec() && stored.next();
    if (known) {
        // What the operator stored wins over QRZ, field by field; the licence
        // data always comes from QRZ.
        const struct {
            const char *column;
            QString *field;
        } kept[] = {{"name", &record.fname},  {"address", &record.address}, {"city", &record.city},
                    {"state", &record.state}, {"zip", &record.zip},         {"country", &record.country},
                    {"email", &record.email}, {"phone", &record.phone},     {"lat", &record.lat},
                    {"lon", &record.lon},     {"grid", &record.grid},       {"source", &record.source},
                    {"utc", &record.utc},     {"dst", &record.dst},         {"born", &record.born}};
        for (const auto &entry : kept) {
            const QString value = stored.value(QLatin1String(entry.column)).toString();
            if (!value.isEmpty())
                *entry.field = value;
        }
    }
    stored.finish();

    writeContact(known,
                 {call, record.fname, record.last, record.licenceClass, record.expire, record.address, record.city,
                  record.state, record.zip, record.country, record.email, record.phone, record.lat, record.lon,
                  record.grid, record.source, record.utc, record.dst, record.born},
                 "Storing QRZ data of " + call);
}
