#include "sync/clubjoin.h"

#include "sync/authorityfetch.h"
#include "sync/clubinvite.h"

#include <QDir>
#include <QSaveFile>

ClubJoin::ClubJoin(QObject *parent) : QObject(parent)
{
    fetch = new AuthorityFetch(this);
    connect(fetch, &AuthorityFetch::failed, this, &ClubJoin::failed);
    connect(fetch, &AuthorityFetch::fetched, this, [this](const QByteArray &pem) {
        // Written whole or not at all: a half file would pin nothing.
        QSaveFile file(authorityPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(pem) != pem.size() || !file.commit()) {
            emit failed(QStringLiteral("The club server's certificate authority could not be kept in %1: %2")
                            .arg(authorityPath, file.errorString()));
            return;
        }
        emit joined(conninfoPending, rolePending, passwordPending);
    });
}

void ClubJoin::join(const QString &text, const QString &dataDir)
{
    QString problem;
    const std::optional<ClubInvite::Link> link = ClubInvite::parse(text, &problem);
    if (!link) {
        emit failed(problem);
        return;
    }
    rolePending = link->role;
    passwordPending = link->password;
    if (link->caSha256.isEmpty()) {
        emit joined(ClubInvite::conninfo(*link, QString::fromLatin1(SystemAuthorities)), link->role, link->password);
        return;
    }
    authorityPath = QDir(dataDir).filePath(QString::fromLatin1(AuthorityFile));
    conninfoPending = ClubInvite::conninfo(*link, authorityPath);
    fetch->fetch(link->host, link->port, link->caSha256);
}
