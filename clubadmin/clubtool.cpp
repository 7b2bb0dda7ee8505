#include "clubadmin/clubtool.h"

#include "app/constants.h"
#include "clubadmin/localcluster.h"
#include "clubadmin/terminalqr.h"
#include "data/serveradmin.h"
#include "data/serverschema.h"
#include "sync/clubinvite.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSslCertificate>
#include <QSysInfo>
#include <QTextStream>

#include <optional>

#include <pwd.h>
#include <unistd.h>

namespace ClubTool {
namespace {

enum Status { Done = 0, Failed = 1, WrongUse = 2 };

struct Options {
    QString command;
    QString call;
    QString admin;
    QString club;
    QString host;
    int port = 0;
    QString database = QStringLiteral("trelvin");
    QString caFile;
    QString socketDir = QStringLiteral("/var/run/postgresql");
    // Where the local cluster's club authority and certificate are kept.
    QString tlsDir = QStringLiteral("/etc/trelvin");
};

// A connection of the administrator, closed and removed with the object.
class AdminConnection {
public:
    AdminConnection()
    {
        static int count = 0;
        name = QStringLiteral("trelvin-club-%1").arg(++count);
    }
    ~AdminConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // What to do next, or empty when connected to `database` (the
    // administrator's own when empty).
    QString open(const Options &options, const QString &database)
    {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            return QStringLiteral("Qt's PostgreSQL driver is missing here: apt-get install libqt6sql6-psql");
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        QString conninfo;
        if (!options.admin.isEmpty()) {
            conninfo = options.admin;
        } else {
            // The machine's own cluster, as its administrator: through the
            // postgres account's socket, which the server trusts for it.
            conninfo = QStringLiteral("host=%1 user=postgres").arg(options.socketDir);
            if (options.port > 0)
                conninfo += QStringLiteral(" port=%1").arg(options.port);
        }
        if (!database.isEmpty())
            conninfo += QStringLiteral(" dbname=") + database;
        conninfo += QStringLiteral(" connect_timeout=10 application_name=trelvin-club");
        db.setConnectOptions(conninfo);
        bool opened = false;
        if (options.admin.isEmpty() && geteuid() == 0) {
            const passwd *postgres = getpwnam("postgres");
            if (!postgres)
                return QStringLiteral("PostgreSQL is not installed on this machine (there is no postgres account): "
                                      "apt-get install postgresql");
            // The server learns who connects from the socket's effective user.
            if (seteuid(postgres->pw_uid) != 0)
                return QStringLiteral("trelvin-club could not act as the postgres account.");
            opened = db.open();
            if (seteuid(0) != 0)
                return QStringLiteral("trelvin-club could not become root again.");
        } else if (options.admin.isEmpty()) {
            return QStringLiteral("Run trelvin-club as root on the server's machine, or give the administrator's "
                                  "connection: --admin \"host=... user=... dbname=postgres\"");
        } else {
            opened = db.open();
        }
        if (opened)
            return QString();
        return nextStep(db.lastError().text(), options);
    }

private:
    static QString nextStep(const QString &error, const Options &options)
    {
        const QString said = QStringLiteral("\n(The server said: ") + error.simplified() + QLatin1Char(')');
        if (error.contains(QLatin1String("No such file or directory")))
            return QStringLiteral("PostgreSQL is not running on this machine, or not installed: apt-get install "
                                  "postgresql; systemctl start postgresql")
                   + said;
        if (error.contains(QLatin1String("Connection refused")))
            return QStringLiteral("Nothing answers where the connection points: is PostgreSQL running and "
                                  "listening there?")
                   + said;
        if (error.contains(QLatin1String("could not translate host name")))
            return QStringLiteral("The server's host name is unknown: check it in --admin.") + said;
        if (error.contains(QLatin1String("password authentication failed"))
            || error.contains(QLatin1String("no password supplied")))
            return QStringLiteral("The server refused the administrator's password: check it in --admin, or in "
                                  "~/.pgpass.")
                   + said;
        if (error.contains(QLatin1String("does not exist")) && error.contains(QLatin1String("database")))
            return QStringLiteral("The club's database %1 is not on this server: run trelvin-club init --club "
                                  "<name> first, or name it with --database.")
                       .arg(options.database)
                   + said;
        return QStringLiteral("trelvin-club could not connect to the server.") + said;
    }

    QString name;
};

int fail(QTextStream &err, const QString &problem)
{
    err << "trelvin-club: " << problem << '\n';
    err.flush();
    return Failed;
}

// The SHA-256 of the first certificate in a PEM file, in lower-case hex.
std::optional<QString> caFingerprint(const QString &file, QString *problem)
{
    QFile pem(file);
    if (!pem.open(QIODevice::ReadOnly)) {
        *problem =
            QStringLiteral("The certificate authority's file %1 cannot be read: %2").arg(file, pem.errorString());
        return std::nullopt;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(pem.read(1 << 20), QSsl::Pem);
    if (certificates.isEmpty()) {
        *problem = QStringLiteral("%1 holds no PEM certificate.").arg(file);
        return std::nullopt;
    }
    return QString::fromLatin1(certificates.first().digest(QCryptographicHash::Sha256).toHex());
}

// The club's facts the links are made from; `--host` and `--port` win.
struct LinkPlace {
    QString host;
    int port = 5432;
    QString caSha256;
};

std::optional<LinkPlace> linkPlace(QSqlDatabase &club, const Options &options, QString *problem)
{
    const std::optional<QHash<QString, QString>> facts = ServerAdmin::facts(club, problem);
    if (!facts)
        return std::nullopt;
    LinkPlace place;
    place.host = options.host.isEmpty() ? facts->value(QStringLiteral("host")) : options.host;
    place.port = options.port > 0 ? options.port : facts->value(QStringLiteral("port"), QStringLiteral("5432")).toInt();
    place.caSha256 = facts->value(QStringLiteral("ca_sha256"));
    if (place.host.isEmpty()) {
        *problem = QStringLiteral("The club's links need the server's name as the operators reach it: give it with "
                                  "--host club.example.org (init keeps it for later).");
        return std::nullopt;
    }
    return place;
}

void printLink(const QString &role, const QString &password, const LinkPlace &place, const Options &options,
               QTextStream &out)
{
    ClubInvite::Link link;
    link.role = role;
    link.password = password;
    link.host = place.host;
    link.port = place.port;
    link.database = options.database;
    link.caSha256 = place.caSha256;
    const QString line = ClubInvite::make(link);
    out << "\nThe club link for " << role << " (shown this once: give it to the operator, who pastes it into "
        << "Setup > Club Server...):\n\n"
        << line << "\n\n";
    const QString qr = TerminalQr::render(line);
    if (!qr.isEmpty())
        out << qr << '\n';
}

void printLines(const QStringList &lines, QTextStream &out)
{
    for (const QString &line : lines)
        out << "  " << line << '\n';
}

// The machine's own cluster: TLS and the club's lines in pg_hba.conf. Empty
// when done, else what failed; `caSha256` is the authority the links pin.
QString secureLocalCluster(QSqlDatabase &adminDb, const Options &options, const QString &host, QStringList *done,
                           QStringList *left, QString *caSha256)
{
    LocalCluster::Tls tls;
    const ServerAdmin::Result secured = LocalCluster::setUpTls(adminDb, host, options.club, options.tlsDir, &tls, left);
    *done += secured.done;
    if (!secured.ok)
        return secured.problem;
    *caSha256 = tls.caSha256;
    const ServerAdmin::Result allowed = LocalCluster::allowClubRoles(adminDb, options.database);
    *done += allowed.done;
    if (!allowed.ok)
        return allowed.problem + QStringLiteral("\nRun init again once that is mended.");
    return QString();
}

// The port the links name: --port, else the server's own.
int linkPort(QSqlDatabase &adminDb, const Options &options)
{
    if (options.port > 0)
        return options.port;
    QString problem;
    const std::optional<QHash<QString, QString>> settings =
        ServerAdmin::serverSettings(adminDb, {QStringLiteral("port")}, &problem);
    const int port = settings ? settings->value(QStringLiteral("port")).toInt() : 0;
    return port > 0 ? port : 5432;
}

void printLeftToDo(const Options &options, int port, const QStringList &left, QTextStream &out)
{
    out << "\nLeft to you:\n"
        << "  let the operators' computers reach port " << port << " through the firewall\n";
    printLines(left, out);
    if (!options.admin.isEmpty())
        out << "  on a server you run yourself: TLS and pg_hba.conf for the club's roles (see the administrator's "
               "notes)\n";
    out << "  one trelvin-club add-operator <call> per operator\n";
}

int initClub(const Options &options, QTextStream &out, QTextStream &err)
{
    if (options.club.isEmpty())
        return fail(err, QStringLiteral("Name the club: trelvin-club init --club ARC"));
    QString caSha256;
    if (!options.caFile.isEmpty()) {
        QString problem;
        const std::optional<QString> fingerprint = caFingerprint(options.caFile, &problem);
        if (!fingerprint)
            return fail(err, problem);
        caSha256 = *fingerprint;
    }
    AdminConnection admin;
    QString problem = admin.open(options, QString());
    if (!problem.isEmpty())
        return fail(err, problem);
    QSqlDatabase adminDb = admin.db();
    QStringList done;
    const ServerAdmin::Result club = ServerAdmin::ensureClub(adminDb, options.database);
    done += club.done;
    if (!club.ok) {
        printLines(done, out);
        return fail(err, club.problem + QStringLiteral("\nRun init again once that is mended."));
    }
    QStringList left;
    QString host = options.host;
    const bool local = options.admin.isEmpty();
    if (local) {
        if (host.isEmpty())
            host = QSysInfo::machineHostName();
        problem = secureLocalCluster(adminDb, options, host, &done, &left, &caSha256);
        if (!problem.isEmpty()) {
            printLines(done, out);
            return fail(err, problem);
        }
    }
    const int port = linkPort(adminDb, options);

    AdminConnection clubConnection;
    problem = clubConnection.open(options, options.database);
    if (!problem.isEmpty())
        return fail(err, problem);
    QSqlDatabase clubDb = clubConnection.db();
    const ServerAdmin::Result schema = ServerAdmin::ensureSchema(clubDb);
    done += schema.done;
    if (schema.ok) {
        QList<QPair<QString, QString>> facts{{QStringLiteral("club"), options.club},
                                             {QStringLiteral("port"), QString::number(port)}};
        if (!host.isEmpty())
            facts.append({QStringLiteral("host"), host});
        if (local || !options.caFile.isEmpty())
            facts.append({QStringLiteral("ca_sha256"), caSha256});
        const ServerAdmin::Result kept = ServerAdmin::setFacts(clubDb, facts);
        done += kept.done;
        if (!kept.ok)
            return fail(err, kept.problem);
    }
    if (done.isEmpty()) {
        out << "The club " << options.club << " is set up on this server already: nothing to change.\n";
    } else {
        out << "Done:\n";
        printLines(done, out);
    }
    if (!schema.ok)
        return fail(err, schema.problem + QStringLiteral("\nRun init again once that is mended."));
    printLeftToDo(options, port, left, out);
    return Done;
}

int operatorCommand(const Options &options, QTextStream &out, QTextStream &err)
{
    const QString role = ClubInvite::roleForCall(options.call);
    if (role.isEmpty())
        return fail(err, QStringLiteral("Name the operator by call sign: trelvin-club %1 N7NCS").arg(options.command));
    AdminConnection clubConnection;
    QString problem = clubConnection.open(options, options.database);
    if (!problem.isEmpty())
        return fail(err, problem);
    QSqlDatabase clubDb = clubConnection.db();

    std::optional<LinkPlace> place;
    if (options.command != QLatin1String("remove-operator")) {
        place = linkPlace(clubDb, options, &problem);
        if (!place)
            return fail(err, problem);
    }
    const QString password = newPassword();
    ServerAdmin::Result result;
    if (options.command == QLatin1String("add-operator"))
        result = ServerAdmin::addOperator(clubDb, role, password);
    else if (options.command == QLatin1String("rotate"))
        result = ServerAdmin::rotate(clubDb, role, password);
    else
        result = ServerAdmin::removeOperator(clubDb, role);
    if (!result.ok)
        return fail(err, result.problem);
    out << "Done:\n";
    printLines(result.done, out);
    if (place)
        printLink(role, password, *place, options, out);
    return Done;
}

int listOperators(const Options &options, QTextStream &out, QTextStream &err)
{
    AdminConnection clubConnection;
    QString problem = clubConnection.open(options, options.database);
    if (!problem.isEmpty())
        return fail(err, problem);
    QSqlDatabase clubDb = clubConnection.db();
    const std::optional<QList<ServerAdmin::Operator>> found = ServerAdmin::operators(clubDb, &problem);
    if (!found)
        return fail(err, "The operators could not be read: " + problem);
    if (found->isEmpty()) {
        out << "No operators yet: trelvin-club add-operator <call> adds one.\n";
        return Done;
    }
    out << QStringLiteral("%1  %2  %3\n")
               .arg(QStringLiteral("operator"), -16)
               .arg(QStringLiteral("log-in"), -7)
               .arg(QStringLiteral("last change received (UTC)"));
    for (const ServerAdmin::Operator &op : *found)
        out << QStringLiteral("%1  %2  %3\n")
                   .arg(op.role, -16)
                   .arg(op.canLogIn ? QStringLiteral("yes") : QStringLiteral("closed"), -7)
                   .arg(op.lastChange ? op.lastChange->toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                      : QStringLiteral("none"));
    return Done;
}

int webRole(const Options &options, QTextStream &out, QTextStream &err)
{
    AdminConnection clubConnection;
    QString problem = clubConnection.open(options, options.database);
    if (!problem.isEmpty())
        return fail(err, problem);
    QSqlDatabase clubDb = clubConnection.db();
    const std::optional<LinkPlace> place = linkPlace(clubDb, options, &problem);
    if (!place)
        return fail(err, problem);
    const QString password = newPassword();
    const ServerAdmin::Result result = ServerAdmin::webLogin(clubDb, password);
    if (!result.ok)
        return fail(err, result.problem);
    out << "Done:\n";
    printLines(result.done, out);
    out << "\nThe live net page's connection (shown this once: put it in /etc/trelvin/web.conf):\n\n"
        << QStringLiteral("host=%1 port=%2 dbname=%3 user=%4 password=%5")
               .arg(place->host)
               .arg(place->port)
               .arg(options.database, QLatin1String(ServerAdmin::WebRole), password)
        << "\n";
    return Done;
}

int showStatus(const Options &options, QTextStream &out, QTextStream &err)
{
    AdminConnection clubConnection;
    QString problem = clubConnection.open(options, options.database);
    if (!problem.isEmpty())
        return fail(err, problem);
    QSqlDatabase clubDb = clubConnection.db();
    const std::optional<ServerAdmin::Status> s = ServerAdmin::status(clubDb, &problem);
    if (!s)
        return fail(err, "The club server's state could not be read: " + problem);
    out << "schema version:          " << s->schemaVersion << " (this trelvin-club makes " << ServerSchema::Version
        << ")\n"
        << "operators:               " << s->operators << " (" << s->operatorsLoggingIn << " may log in)\n"
        << "changes in the last hour: " << s->changesLastHour << " (" << s->changesTotal << " in all)\n"
        << "oldest gap:              " << (s->oldestGap.isEmpty() ? QStringLiteral("none") : s->oldestGap) << '\n';
    return Done;
}

const char Usage[] =
    "Usage: trelvin-club <command> [options]\n"
    "\n"
    "Commands:\n"
    "  init --club ARC [--host NAME]  make the club's database, roles and tables\n"
    "  add-operator CALL              a log-in for an operator, and its club link\n"
    "  remove-operator CALL           the operator can no longer log in; its changes stay\n"
    "  rotate CALL                    a new password and club link for an operator\n"
    "  list                           the operators and their last change\n"
    "  web-role                       the live net page's read-only connection\n"
    "  status                         the schema, operators and recent changes\n"
    "\n"
    "Options:\n"
    "  --admin CONNINFO   the server's administrator (default: this machine's PostgreSQL, as root)\n"
    "  --host NAME        the server's name as operators reach it (kept by init)\n"
    "  --port N           the port operators reach (default: the server's)\n"
    "  --database NAME    the club's database (default: trelvin)\n"
    "  --ca FILE          the club's certificate authority (PEM) that links pin\n"
    "  --socket DIR       the local cluster's socket directory (default: /var/run/postgresql)\n"
    "  --tls-dir DIR      the local cluster's club authority and certificate (default: /etc/trelvin)\n";

} // namespace

QString newPassword()
{
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString password;
    for (int i = 0; i < 32; ++i)
        password += QLatin1Char(Alphabet[QRandomGenerator::system()->bounded(int(sizeof Alphabet - 1))]);
    return password;
}

// The command named on the line, checked and run.
static int runCommand(const Options &options, qsizetype positionalCount, QTextStream &out, QTextStream &err)
{
    const QStringList takesCall{QStringLiteral("add-operator"), QStringLiteral("remove-operator"),
                                QStringLiteral("rotate")};
    const QStringList takesNothing{QStringLiteral("init"), QStringLiteral("list"), QStringLiteral("web-role"),
                                   QStringLiteral("status")};
    if (!takesCall.contains(options.command) && !takesNothing.contains(options.command)) {
        err << (options.command.isEmpty() ? QStringLiteral("trelvin-club: say what to do.\n\n")
                                          : "trelvin-club: there is no command \"" + options.command + "\".\n\n")
            << Usage;
        return WrongUse;
    }
    if (positionalCount != (takesCall.contains(options.command) ? 2 : 1)) {
        err << "trelvin-club: " << options.command
            << (takesCall.contains(options.command) ? " takes one call sign.\n" : " takes no call sign.\n");
        return WrongUse;
    }
    int status = Failed;
    if (options.command == QLatin1String("init"))
        status = initClub(options, out, err);
    else if (takesCall.contains(options.command))
        status = operatorCommand(options, out, err);
    else if (options.command == QLatin1String("list"))
        status = listOperators(options, out, err);
    else if (options.command == QLatin1String("web-role"))
        status = webRole(options, out, err);
    else
        status = showStatus(options, out, err);
    return status;
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption admin(QStringLiteral("admin"), QString(), QStringLiteral("conninfo"));
    const QCommandLineOption club(QStringLiteral("club"), QString(), QStringLiteral("name"));
    const QCommandLineOption host(QStringLiteral("host"), QString(), QStringLiteral("name"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("n"));
    const QCommandLineOption database(QStringLiteral("database"), QString(), QStringLiteral("name"));
    const QCommandLineOption ca(QStringLiteral("ca"), QString(), QStringLiteral("file"));
    const QCommandLineOption socket(QStringLiteral("socket"), QString(), QStringLiteral("dir"));
    const QCommandLineOption tlsDir(QStringLiteral("tls-dir"), QString(), QStringLiteral("dir"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({admin, club, host, port, database, ca, socket, tlsDir, help, version});
    if (!parser.parse(QStringList{QStringLiteral("trelvin-club")} + arguments)) {
        err << "trelvin-club: " << parser.errorText() << "\n\n" << Usage;
        return WrongUse;
    }
    if (parser.isSet(help)) {
        out << Usage;
        return Done;
    }
    if (parser.isSet(version)) {
        out << "trelvin-club " << Trel::Version << '\n';
        return Done;
    }
    Options options;
    const QStringList positional = parser.positionalArguments();
    options.command = positional.value(0);
    options.call = positional.value(1);
    options.admin = parser.value(admin);
    options.club = parser.value(club).trimmed();
    options.host = parser.value(host).trimmed();
    options.caFile = parser.value(ca);
    if (parser.isSet(socket))
        options.socketDir = parser.value(socket);
    if (parser.isSet(tlsDir))
        options.tlsDir = QDir(parser.value(tlsDir)).absolutePath();
    if (parser.isSet(database))
        options.database = parser.value(database).trimmed();
    if (parser.isSet(port)) {
        bool ok = false;
        options.port = parser.value(port).toInt(&ok);
        if (!ok || options.port < 1 || options.port > 65535) {
            err << "trelvin-club: --port takes a port number (1 to 65535).\n";
            return WrongUse;
        }
    }
    static const QRegularExpression plain(QStringLiteral("^[a-z_][a-z0-9_]{0,62}$"));
    if (!plain.match(options.database).hasMatch()) {
        err << "trelvin-club: --database takes a name of lower-case letters, digits and _.\n";
        return WrongUse;
    }
    const int status = runCommand(options, positional.size(), out, err);
    out.flush();
    err.flush();
    return status;
}

} // namespace ClubTool
