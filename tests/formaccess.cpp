#include "formaccess.h"

#include "app/clock.h"
#include "app/trelvin.h"
#include "checkin/callsearch.h"
#include "checkin/checkindesk.h"
#include "files/filescontroller.h"
#include "jobs/bulkjob.h"
#include "records/netrecordscontroller.h"
#include "reports/reportfill.h"
#include "reports/reportscontroller.h"
#include "viewer/documentscontroller.h"

#include <QMenu>
#include <QSqlDatabase>
#include <QWidget>

QObject *formPart(const QObject *window, const char *name, const QMetaObject &type)
{
    const QList<QObject *> found = window->findChildren<QObject *>(QString::fromLatin1(name));
    for (QObject *part : found) {
        if (!type.cast(part))
            continue;
        bool own = true;
        // Menus are windows of their own to Qt, but part of the form.
        for (QObject *up = part->parent(); up && up != window; up = up->parent()) {
            const auto *widget = qobject_cast<const QWidget *>(up);
            if (widget && widget->isWindow() && !qobject_cast<const QMenu *>(widget)) {
                own = false;
                break;
            }
        }
        if (own)
            return part;
    }
    qFatal("The form has no %s named %s", type.className(), name);
    return nullptr;
}

Storage &storeOf(const Trelvin *w)
{
    return const_cast<Trelvin *>(w)->store();
}

QSqlDatabase fileDb(const Trelvin *w)
{
    return storeOf(w).contactsDb();
}

QSqlDatabase memoryDb(const Trelvin *w)
{
    return storeOf(w).memory();
}

BulkJob *bulkJobOf(const Trelvin *w)
{
    return w->findChild<BulkJob *>();
}

ReportFill *reportFillOf(const Trelvin *w)
{
    return w->findChild<ReportFill *>();
}

ThemeState *themeOf(const Trelvin *w)
{
    return w->findChild<ThemeState *>();
}

CheckInDesk *deskOf(const Trelvin *w)
{
    return w->findChild<CheckInDesk *>(QStringLiteral("checkInDesk"));
}

CallSearch *callSearchOf(const Trelvin *w)
{
    return w->findChild<CallSearch *>(QStringLiteral("callSearch"));
}

Station *stationOf(const Trelvin *w)
{
    return deskOf(w)->stationDialog();
}

Contact *contactOf(const Trelvin *w)
{
    return deskOf(w)->contactDialog();
}

Clock *clockOf(const Trelvin *w)
{
    return w->findChild<Clock *>(QStringLiteral("clock"));
}

FilesController *filesOf(const Trelvin *w)
{
    return w->findChild<FilesController *>();
}

ReportsController *reportsOf(const Trelvin *w)
{
    return w->findChild<ReportsController *>();
}

NetRecordsController *netRecordsOf(const Trelvin *w)
{
    return w->findChild<NetRecordsController *>();
}

DocumentsController *documentsOf(const Trelvin *w)
{
    return w->findChild<DocumentsController *>();
}
