#pragma once

#include <QDialog>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>

class QFile;
class QTextEdit;

namespace Ui {
class SeeFile;
}

// Text viewer for the program's documents, the error log and the club's net
// script. Each show* operation loads one file into the view and returns 1, or
// reports the missing file (a box, and errorSig with the line for the error
// log) and returns 0; showing the window is the caller's decision.
class SeeFile : public QDialog {
    Q_OBJECT

public:
    explicit SeeFile(QWidget *parent = nullptr);
    ~SeeFile() override;

    // The document's view.
    QTextEdit *textView() const;
    // Whether the window was open when its settings were last written (at exit).
    bool openAtExit = false;
    QString content = QStringLiteral("Normal"); // which document is shown, kept across runs
    QTextCharFormat format;                     // plain format, so one document's look never leaks into the next

    // The error log is read from its end, at most this much; older lines
    // are left out, and a first line says so.
    static constexpr qint64 ErrorLogTail = 1024 * 1024;
    // A longer line of the error log is cut there: laying out one long
    // unbroken line takes the view seconds.
    static constexpr qsizetype ErrorLogLineLimit = 10000;
    // The error-log file last loaded by showErrorLog().
    QString shownLog() const { return logName; }

signals:
    void escapeSig();
    // A document failed to open; `message` is the line for the error log.
    void errorSig(const QString &message);

public slots:
    void writeSettings(QString group, QString contentId, bool visible);
    void readSettings(QString group);
    void toMainWindow();
    QString justifyDigit(QString call);
    int showLicense(QDir pDir);
    int showErrorLog(QDir dDir);
    // Adds lines just written to the end of the shown error log, so that the
    // view follows the file without reading it again. A view at its end
    // stays at the end; one scrolled back stays where the operator put it.
    void appendErrorLog(const QByteArray &written);
    int showChangeLog(QDir pDir);
    int showPreamble(QDir dDir, QString clubName);
    int showEnvironment(QDir pDir);
    int displayReadme(QDir pDir);
    int showShortcuts(QDir pDir);

private:
    Ui::SeeFile *ui;

    // One document: its file, how a missing one is reported, and what the
    // load does besides reading the file's lines.
    struct Document {
        QString fileName;
        bool critical = true;     // kind of the "File not Found" box
        QString missingText;      // text of that box
        bool wrap = true;         // wrap at the widget's width (all but the preamble)
        bool plainFormat = false; // start from the plain character format
        bool clearFirst = false;  // clear the view even when the file is missing
        QStringList header;       // paragraphs before the file's lines
        QString footer;           // a paragraph after them
    };
    int loadDocument(const Document &document);

    void appendParagraph(const QString &line);
    void appendFile(QFile &file);
    QString logText(const QByteArray &bytes);
    void showLogEnd();
    void cursorToStart();
    void reportMissing(bool critical, const QString &text);

    QDir logDir;
    QString logName; // empty while another document is shown
    qint64 logBytesShown = 0;
    bool logShowsLine = false;   // a line is in the view, so the next one starts a paragraph
    bool logLineOpen = false;    // the last line shown had no line end yet
    qsizetype logLineLength = 0; // characters of the last line, shown or cut
    bool logAtEnd = true;        // the view follows new lines until the operator scrolls away
};
