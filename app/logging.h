#pragma once

#include <QLoggingCategory>

// One category per area, for developers: switched on with
// QT_LOGGING_RULES, e.g. "trelvin.storage.debug=true". The operator's
// error log (Trelvin::writeError) stays what the operator reads.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcStorage)
Q_DECLARE_LOGGING_CATEGORY(lcSync)
Q_DECLARE_LOGGING_CATEGORY(lcLookup)
Q_DECLARE_LOGGING_CATEGORY(lcCallbook)
Q_DECLARE_LOGGING_CATEGORY(lcJobs)
Q_DECLARE_LOGGING_CATEGORY(lcFiles)
Q_DECLARE_LOGGING_CATEGORY(lcReports)
Q_DECLARE_LOGGING_CATEGORY(lcCheckin)
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
// trelvin-web: its start, the club server lost and found again.
Q_DECLARE_LOGGING_CATEGORY(lcWeb)
