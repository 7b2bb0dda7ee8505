#pragma once

#include <QObject>
#include <QString>

// The operator's passwords in the desktop's keyring (the Secret Service on
// Linux), through QtKeychain. The keyring may have to ask the operator to
// unlock it, so nothing here waits: every call is answered by a signal, in
// the order the calls were made.
class SecretStore : public QObject {
    Q_OBJECT

public:
    enum Outcome {
        Done,
        // Read only: the keyring answered and holds no such entry.
        NotFound,
        // No keyring answered (no D-Bus session, no Secret Service, locked
        // and not opened, refused); `reason` says which.
        NoKeyring,
    };
    Q_ENUM(Outcome)

    explicit SecretStore(QObject *parent = nullptr);

    // The keyring's name for this program's entries. Tests set a name of
    // their own before a store is made, so they never touch the operator's.
    static inline QString service = QStringLiteral("Trelvin");

    void read(const QString &key);
    // An empty secret removes the entry.
    void write(const QString &key, const QString &secret);

    // What the last answer said about the keyring: false after NoKeyring.
    bool answered() const { return lastAnswered; }

signals:
    void readFinished(const QString &key, const QString &secret, SecretStore::Outcome outcome, const QString &reason);
    // `secret` is the one written, so that a caller can keep it elsewhere
    // when no keyring answered.
    void writeFinished(const QString &key, const QString &secret, SecretStore::Outcome outcome, const QString &reason);

private:
    bool lastAnswered = true;
};

// Where the program keeps the passwords when no keyring answers: the data
// directory closed to everyone but its owner (0700), its files likewise
// (0600), and the settings file too. Returns the paths that could not be
// restricted.
namespace Secrets {
QStringList restrictToOwner(const QString &dataDir, const QString &settingsFile);
}
