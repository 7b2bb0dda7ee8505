#include "logging.h"

// Warnings and above show by default, as Qt's own do; debug lines only
// when asked for.
Q_LOGGING_CATEGORY(lcApp, "trelvin.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStorage, "trelvin.storage", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSync, "trelvin.sync", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLookup, "trelvin.lookup", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCallbook, "trelvin.callbook", QtWarningMsg)
Q_LOGGING_CATEGORY(lcJobs, "trelvin.jobs", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFiles, "trelvin.files", QtWarningMsg)
Q_LOGGING_CATEGORY(lcReports, "trelvin.reports", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCheckin, "trelvin.checkin", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecords, "trelvin.records", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWeb, "trelvin.web", QtInfoMsg)
