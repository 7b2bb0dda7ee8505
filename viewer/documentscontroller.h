#pragma once

#include <QByteArray>
#include <QDir>
#include <QObject>
#include <QPalette>
#include <QString>

#include <functional>

class QLineEdit;
class SeeFile;

// The documents of the Help menu (licence, read-me, shortcut keys, change
// log, environment, the error log) in one viewer, and the club's net script
// in another. It owns both windows.
class DocumentsController : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        // Where the keyboard goes back to after some documents.
        QLineEdit *search = nullptr;
        QLineEdit *call = nullptr;
    };

    struct Host {
        std::function<QDir()> infoDir;
        std::function<QDir()> dataDir;
        std::function<QString()> club;
        // Brings the main window back in front, the document beside it.
        std::function<void()> activateMain;
    };

    DocumentsController(const Widgets &widgets, Host host, QObject *parent = nullptr);
    ~DocumentsController() override;

    SeeFile *documentWindow() const { return about; }
    SeeFile *scriptWindow() const { return preamble; }
    QList<QWidget *> windows() const;

    // Start-up: the document and the script open again when they were open
    // at the last exit.
    void reopenWindows();
    void writeWindowSettings();
    void setPalette(const QPalette &palette);

    // A line was written to the error log `logFile`: an open Error Log view
    // follows it. `written` is false when the line did not reach the file.
    void errorLogged(const QByteArray &line, bool written, const QString &logFile, bool logOpen);

public slots:
    void showLicense();
    void showGettingStarted();
    void showShortcutKeys();
    void showChangeLog();
    void showEnvironment();
    void showErrorLog();
    // The club's net script.
    void showPreamble();

signals:
    void errorLine(const QString &line);
    // Escape in a viewer: back to the main window.
    void escaped();

private:
    Widgets w;
    Host host;
    SeeFile *about = nullptr;
    SeeFile *preamble = nullptr;
};
