#include "testsupport.h"

#include "app/constants.h"
#include "app/fonts.h"
#include "app/trelvin.h"
#include "data/direct.h"
#include "data/rows.h"
#include "jobs/bulkjob.h"
#include "reports/reportfill.h"
#include "secrets/secretstore.h"
#include "ui_trelvin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

QMessageBox::StandardButton ScriptedPrompter::message(Kind kind, const QString &title, const QString &text,
                                                      QMessageBox::StandardButtons buttons,
                                                      QMessageBox::StandardButton defaultButton)
{
    calls.append({kind, title, text, buttons, defaultButton});
    if (!answers.isEmpty())
        return answers.takeFirst();
    if (defaultButton != QMessageBox::NoButton)
        return defaultButton;
    for (int bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
        if (buttons.testFlag(QMessageBox::StandardButton(bit)))
            return QMessageBox::StandardButton(bit);
    }
    return QMessageBox::NoButton;
}

QString ScriptedPrompter::existingDirectory(const QString &caption, const QString &)
{
    pathCaptions.append(caption);
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

QString ScriptedPrompter::openFileName(const QString &caption, const QString &, const QString &)
{
    pathCaptions.append(caption);
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

QString ScriptedPrompter::saveFileName(const QString &caption, const QString &, const QString &)
{
    pathCaptions.append(caption);
    return paths.isEmpty() ? QString() : paths.takeFirst();
}

void ScriptedPrompter::exitProgram(int status)
{
    exits.append(status);
}

QString ScriptedPrompter::password(const QString &title, const QString &label)
{
    calls.append({Question, title, label, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
    return passwords.isEmpty() ? QString() : passwords.takeFirst();
}

QStringList ScriptedPrompter::titles() const
{
    QStringList result;
    for (const Call &call : calls)
        result.append(call.title);
    return result;
}

void ScriptedPrompter::clear()
{
    calls.clear();
    answers.clear();
    paths.clear();
    pathCaptions.clear();
    exits.clear();
}

void writeMain(const QString &key, const QVariant &value)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.setValue(QStringLiteral("Main/") + key, value);
}

Runtime::Runtime()
{
    QStandardPaths::setTestModeEnabled(true);
    // The fonts the program's windows get at start-up.
    substituteFormFonts();
    Direct::setHandlesEnabled(!qEnvironmentVariableIsSet("TRELVIN_TEST_QT_SQL_ONLY"));
    QDir dir(root.path());
    dir.mkpath(QStringLiteral("bin"));
    dir.mkpath(QStringLiteral("Programs/Trelvin/Data"));
    dir.mkpath(QStringLiteral("Programs/Trelvin/Info"));
    dir.mkpath(QStringLiteral("settings"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root.path() + "/settings");
    {
        // Never the real service: a port on this machine where nothing listens.
        QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
        settings.setValue(QStringLiteral("Main/QrzServer"), QStringLiteral("http://127.0.0.1:9"));
        settings.setValue(QStringLiteral("Main/HamQthServer"), QStringLiteral("http://127.0.0.1:9"));
    }
    // Never the operator's keyring entries. Outside the keyring session of
    // tests/keyring-session.sh no keyring answers: a session bus that is
    // not there, as on a machine without a desktop.
    SecretStore::service = QStringLiteral("Trelvin-test");
    if (!qEnvironmentVariableIsSet("TRELVIN_TEST_KEYRING"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName("unix:path=" + root.path() + "/no-session-bus"));
    previousDir = QDir::currentPath();
    QDir::setCurrent(root.path() + "/bin");
    Prompter::setInstance(&prompter);
}

Runtime::~Runtime()
{
    stop();
    Prompter::setInstance(nullptr);
    QDir::setCurrent(previousDir);
}

QString Runtime::settingsFile() const
{
    return root.path() + "/settings/" + Trel::Organisation + "/" + Trel::Application + ".ini";
}

bool Runtime::installInfo(const QString &name)
{
    const QString target = infoPath() + "/" + name;
    QFile::remove(target);
    return QFile::copy(QStringLiteral(TRELVIN_SOURCE_DIR "/info/") + name, target);
}

QString Runtime::readData(const QString &name) const
{
    QFile file(dataPath() + "/" + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void Runtime::addEmptyRoster(const QString &club, QString dir) const
{
    if (dir.isEmpty())
        dir = dataPath();
    QFile file(dir + "/Roster-" + club + ".csv");
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("\"Call\"\n");
}

Trelvin *Runtime::start()
{
    stop();
    window = std::make_unique<Trelvin>();
    return window.get();
}

void Runtime::stop()
{
    if (!window)
        return;
    // A second program in the same test has connections of its own names.
    const QStringList names{storeOf(window.get()).memory().connectionName(),
                            storeOf(window.get()).contactsDb().connectionName()};
    window.reset();
    // The connections outlive the window's handles; drop them so the next
    // window starts from fresh databases.
    for (const QString &name : names)
        QSqlDatabase::removeDatabase(name);
}

QStringList column(const QSqlDatabase &db, const QString &sql)
{
    QStringList values;
    QSqlQuery query(sql, db);
    while (query.next())
        values.append(query.value(0).toString());
    return values;
}

bool run(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return true;
    qWarning("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

bool waitForJobs(Trelvin *w, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (bulkJobOf(w)->running() || !reportFillOf(w)->idle()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    // What the last job posted on its way out.
    QCoreApplication::processEvents();
    return true;
}

bool waitForCallIndex(Storage &storage)
{
    for (int tries = 0; tries < 3; ++tries) {
        while (storage.contacts().callIndexReading())
            QThread::msleep(1);
        if (storage.contacts().callIndexReady())
            return true;
    }
    return false;
}

bool runAsAnotherProgram(const QString &path, const QString &sql)
{
    const QString name = QStringLiteral("another program");
    bool ran = false;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        other.setDatabaseName(path);
        ran = other.open() && run(other, sql);
        other.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ran;
}

void fillEntry(Trelvin *w, const QString &call, const QString &name, const QString &city, const QString &qso)
{
    deskOf(w)->setEntry(0);
    FORM(w, call)->setText(call);
    FORM(w, name)->setText(name);
    FORM(w, city)->setText(city);
    FORM(w, state)->setText(QStringLiteral("UT"));
    FORM(w, relay)->clear();
    FORM(w, qso)->setText(qso);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    getrlimit(RLIMIT_FSIZE, &previous);
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous;
    limit.rlim_cur = bytes;
    active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
}

QString contactData(const QString &call, const QString &city)
{
    QJsonArray fields;
    ContactRecord record;
    record.call = call;
    record.name = QStringLiteral("Bo");
    record.city = city;
    for (const QString &value : record.values())
        fields.append(value);
    return QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact));
}
