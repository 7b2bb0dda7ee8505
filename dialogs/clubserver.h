#pragma once

#include "sync/clublink.h"

#include <QDialog>
#include <QString>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

// Setup > Club Server...: a club link from the club's administrator, pasted
// in one field; or the club's PostgreSQL server in fields of their own
// (host, port, database, user, TLS and its CA file), the libpq connection
// string they make under "Advanced", and a test of it. The string and the
// fields follow each other: an edit of either shows in the other. The main
// window does the testing and the storing; the dialog only edits and asks
// by signals.
class ClubServerDialog : public QDialog {
    Q_OBJECT

public:
    explicit ClubServerDialog(QWidget *parent = nullptr);

    // Opening: the setting in the fields, no result yet.
    void showSetting(const QString &conninfo);
    void focusHost();
    void focusLink();
    void showResult(const QString &text);
    // While a test runs its button is off; the result turns it on again.
    void showTesting();
    void showTestResult(const QString &text);
    // While a pasted club link is read and its server asked, Join is off.
    void showJoining();

signals:
    void testSig(const QString &conninfo);
    void saveSig(const QString &conninfo);
    // A club link to join with: pasted, or Join pressed.
    void joinSig(const QString &link);

private:
    void addClubLink(QVBoxLayout *layout);
    void addServerFields(QFormLayout *form);
    void addTls(QFormLayout *form);
    void addCaFile(QFormLayout *form);
    void addAdvanced(QVBoxLayout *layout);
    void addResultAndButtons(QVBoxLayout *layout);
    void fieldsEdited();
    void showFields(const QString &conninfo);
    void browseCaFile();
    void enableCaFile();

    QLineEdit *clubLink = nullptr;
    QPushButton *joinButton = nullptr;
    QLineEdit *host = nullptr;
    QLineEdit *port = nullptr;
    QLineEdit *database = nullptr;
    QLineEdit *user = nullptr;
    // In the order of ClubLink::Tls.
    QComboBox *tls = nullptr;
    QLineEdit *caFile = nullptr;
    QPushButton *caBrowse = nullptr;
    QPushButton *advanced = nullptr;
    QWidget *advancedPart = nullptr;
    // The whole connection string.
    QLineEdit *connection = nullptr;
    QLabel *result = nullptr;
    QPushButton *testButton = nullptr;
    QPushButton *saveButton = nullptr;

    // The link field's length before the last edit: a paste grows it at once.
    int pastedFrom = 0;
    // Set while one side is written from the other.
    bool following = false;
    // The TLS was chosen, or named in the string: written as it is.
    bool tlsNamed = false;
};
