#pragma once

#include "app/prompter.h"
#include "formaccess.h"

#include <QDir>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

#include <sys/resource.h>

class Storage;

class QSqlDatabase;

class Trelvin;

// Records every modal call and answers from a queue; unanswered questions get
// the default button (or the first one), unanswered choosers an empty path.
class ScriptedPrompter : public Prompter {
public:
    struct Call {
        Kind kind;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    QList<Call> calls;
    QList<QMessageBox::StandardButton> answers;
    QStringList paths;
    QStringList pathCaptions;
    QList<int> exits;
    // Answers to password questions, which are recorded as Question calls.
    QStringList passwords;

    QMessageBox::StandardButton message(Kind kind, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    QString existingDirectory(const QString &caption, const QString &dir) override;
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override;
    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override;
    void exitProgram(int status) override;
    QString password(const QString &title, const QString &label) override;

    QStringList titles() const;
    void clear();
};

// Sets a key of the main window's settings group in the (redirected) store.
void writeMain(const QString &key, const QVariant &value);

// A runtime folder in a temporary directory, laid out as the program expects:
// bin/ (the working directory), Programs/Trelvin/Data and Programs/Trelvin/Info,
// with the settings store pointed into it too.
class Runtime {
public:
    Runtime();
    ~Runtime();

    bool isValid() const { return root.isValid(); }
    QString path() const { return root.path(); }
    QString dataPath() const { return root.path() + "/Programs/Trelvin/Data"; }
    QString infoPath() const { return root.path() + "/Programs/Trelvin/Info"; }
    QString settingsFile() const;

    // Copies a file of the repository's info/ into the information directory.
    bool installInfo(const QString &name);
    QString readData(const QString &name) const;
    // An empty roster for `club`, so that start-up finds one (default: the data directory).
    void addEmptyRoster(const QString &club = QStringLiteral("ARC"), QString dir = QString()) const;

    // Builds the main window; the previous one, if any, is destroyed first.
    Trelvin *start();
    void stop();

    ScriptedPrompter prompter;
    std::unique_ptr<Trelvin> window;

private:
    QTemporaryDir root;
    QString previousDir;
};

// The first column of every row `sql` yields on `db`.
QStringList column(const QSqlDatabase &db, const QString &sql);
// Runs `sql` on `db`; a failure is logged with SQLite's text.
bool run(const QSqlDatabase &db, const QString &sql);

// Fills the entry as the operator would type a station, relay cleared, for
// a new entry (entryId 0); the caller presses the key.
void fillEntry(Trelvin *w, const QString &call, const QString &name, const QString &city, const QString &qso);

// Runs the event loop until `w` has no bulk job running and no report
// waiting to be filled; false after `timeoutMs`.
bool waitForJobs(Trelvin *w, int timeoutMs = 60000);

// Waits until the search's index of call signs has been read and can
// serve; false when it could not be read (three tries).
bool waitForCallIndex(Storage &storage);

// Runs `sql` on `path` through a connection of its own, closed after it, as
// another program writing the file would.
bool runAsAnotherProgram(const QString &path, const QString &sql);

// A contact's values as a club-server change carries them (a JSON array):
// the call, the name "Bo" and the city.
QString contactData(const QString &call, const QString &city);

// Lets no file of this process grow past `bytes` while it lives, as a full
// file system does; the signal that would end the process is ignored.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    bool active = false;

private:
    rlimit previous{};
    void (*previousHandler)(int) = nullptr;
};
