#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// Setup > Club Server...: the libpq connection string of the club's
// PostgreSQL server, with a test of it. The main window does the testing
// and the storing; the dialog only edits and asks by signals.
class ClubServerDialog : public QDialog {
    Q_OBJECT

public:
    explicit ClubServerDialog(QWidget *parent = nullptr);

    QLineEdit *connection = nullptr;
    QLabel *result = nullptr;
    QPushButton *testButton = nullptr;
    QPushButton *saveButton = nullptr;

    void showResult(const QString &text);

signals:
    void testSig(const QString &conninfo);
    void saveSig(const QString &conninfo);
};
