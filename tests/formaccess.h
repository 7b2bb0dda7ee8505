#pragma once

// How tests and the benchmark reach the main window: its form by object
// name, its storage through its public accessor, its jobs through its tree.

#include "app/clock.h"
#include "checkin/callsearch.h"
#include "checkin/checkindesk.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"

#include <type_traits>

class BulkJob;
class DocumentsController;
class FilesController;
class NetRecordsController;
class ReportsController;
class QObject;
class QSqlDatabase;
class ReportFill;
class Storage;
class Trelvin;
class ThemeState;
struct QMetaObject;

// A part of a window's form by its object name, as the operator reaches it:
// the window's own widgets, menus and actions, not those of the dialogs and
// windows it owns. The test run ends when there is none.
QObject *formPart(const QObject *window, const char *name, const QMetaObject &type);
template <typename T>
T formPart(const QObject *window, const char *name)
{
    return static_cast<T>(formPart(window, name, std::remove_pointer_t<T>::staticMetaObject));
}
// FORM(w, search): the main window's field `search`, typed as in its form.
#define FORM(window, name) formPart<decltype(Ui::Trelvin::name)>((window), #name)
// The same for a dialog or window of another form: PART(dialog, Ui::Station, call).
#define PART(window, form, name) formPart<decltype(form::name)>((window), #name)
// A field of the check-in desk's Contact or Station dialog: CONTACT(w, fname).
#define CONTACT(window, name) PART(contactOf(window), Ui::Contact, name)
#define STATION(window, name) PART(stationOf(window), Ui::Station, name)

// The window's storage and its two connections, the bulk job's bar and the
// report filler, as the window's tree holds them.
Storage &storeOf(const Trelvin *w);
QSqlDatabase fileDb(const Trelvin *w);
QSqlDatabase memoryDb(const Trelvin *w);
BulkJob *bulkJobOf(const Trelvin *w);
ReportFill *reportFillOf(const Trelvin *w);
// The theme in use.
ThemeState *themeOf(const Trelvin *w);
// The check-in desk and Call Search, by their public face; the desk's
// Station and Contact dialogs; the clock the window reads.
CheckInDesk *deskOf(const Trelvin *w);
CallSearch *callSearchOf(const Trelvin *w);
Station *stationOf(const Trelvin *w);
Contact *contactOf(const Trelvin *w);
Clock *clockOf(const Trelvin *w);
// The controllers of the window's areas, through their public API.
FilesController *filesOf(const Trelvin *w);
ReportsController *reportsOf(const Trelvin *w);
NetRecordsController *netRecordsOf(const Trelvin *w);
DocumentsController *documentsOf(const Trelvin *w);
