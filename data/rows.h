#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Direct {
class Statement;
}

// The plain values that Storage takes and gives: what one stored row holds,
// without a query or a widget around it.

// A row of the contact table.
struct ContactRecord {
    qint64 id = 0;
    QString call, name, last, licenceClass, expire, address, city, state, zip, country, email, phone, lat, lon, grid,
        source, utc, dst, born;

    // The 19 stored columns after id, call first, in the table's order.
    QStringList values() const;
    static ContactRecord fromValues(const QStringList &values);
};

// A row of the log: one check-in.
struct LogRecord {
    qint64 id = 0;
    QString date, time, status, call, name, relay, city, state, comment;
};

// An entry of tonight's net list.
struct NetEntry {
    int id = 0;
    QString time, call, name, city, state, comment;
    int conId = 0;
    int logId = 0;
    int status = 0;
    QString relay;
};

// The one row of the station table: this station and its QRZ log-in.
struct StationRecord {
    QString call, passwd, state, lat, lon, grid, utc, dst;
};

struct Coordinates {
    double lat = 0;
    double lon = 0;
};

// A log row as UTF-8 views of the database's own text, for the reports of
// many thousand rows; the views hold until the next row is read.
struct LogRowView {
    qint64 id = 0;
    QByteArrayView date;
    QByteArrayView time;
    QByteArrayView status;
    QByteArrayView call;
    QByteArrayView name;
    QByteArrayView relay;
    QByteArrayView city;
    QByteArrayView state;
    QByteArrayView comment;
};

// The current row of a table that Storage walks through, for writers that
// copy whole tables: its columns as UTF-8 views, valid until the next row.
class StoredRow {
public:
    explicit StoredRow(const Direct::Statement &row) : statement(row) {}
    int columns() const;
    QByteArrayView utf8(int column) const;

private:
    const Direct::Statement &statement;
};

// One licence of the offline call book as it is written: UTF-8 views that
// hold until the next row is asked for.
struct CallBookRow {
    QByteArrayView call, first, middle, last, street, city, state, zip, licenceClass, granted, expires, previous,
        trustee;
    bool hasPosition = false;
    double lat = 0, lon = 0;
};

// One licence of the offline call book as a look-up gives it. The class is
// the FCC's letter; dates are "yyyy-mm-dd"; the position is the centre of
// the ZIP code's area, when it is known.
struct CallBookRecord {
    QString call, first, middle, last, street, city, state, zip, licenceClass, granted, expires, previous, trustee;
    bool hasPosition = false;
    double lat = 0, lon = 0;
};
