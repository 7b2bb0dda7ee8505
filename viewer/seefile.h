#pragma once

#include <QDialog>
#include <QDir>
#include <QString>
#include <QTextCharFormat>

class QFile;

namespace Ui {
class SeeFile;
}

// Text viewer for the program's documents, the error log and the club's net
// script. Each show* operation loads one file into the view and returns 1, or
// reports the missing file and returns 0; showing the window is the caller's
// decision.
class SeeFile : public QDialog
{
    Q_OBJECT

public:
    explicit SeeFile(QWidget *parent = nullptr);
    ~SeeFile() override;

    Ui::SeeFile *ui;
    QString errorText;                              // why the last document failed to open
    QString visibleFlag = QStringLiteral("No");
    QString content = QStringLiteral("Normal");     // which document is shown, kept across runs
    QTextCharFormat format;                         // plain format, so one document's look never leaks into the next

signals:
    void escapeSig();
    void errorSig();

public slots:
    void writeSettings(QString group, QString contentId, bool visible);
    void readSettings(QString group);
    void toMainWindow();
    QString justifyDigit(QString call);
    int showLicense(QDir pDir);
    int showErrorLog(QDir dDir);
    int showChangeLog(QDir pDir);
    int showPreamble(QDir dDir, QString clubName);
    int showEnvironment(QDir pDir);
    int displayReadme(QDir pDir);
    int showShortcuts(QDir pDir);

private:
    void appendParagraph(const QString &line);
    void appendFile(QFile &file);
    void cursorToStart();
    void reportMissing(bool critical, const QString &text);
    void reportError(const QString &text);
};
