#pragma once

#include <QDialog>
#include <QString>

class QCloseEvent;
class QPlainTextEdit;

namespace Ui {
class SeeLogs;
}

// A report window: a one-line column header over a fixed-pitch report. The
// report writers fill both views and the title; the window only keeps them
// lined up and remembers its place.
class SeeLogs : public QDialog {
    Q_OBJECT

public:
    explicit SeeLogs(QWidget *parent = nullptr);
    ~SeeLogs() override;

    // The one-line column header and the report under it.
    QPlainTextEdit *headerView() const;
    QPlainTextEdit *logView() const;
    // Whether the window was open when its settings were last written (at exit).
    bool openAtExit = false;

signals:
    void escapeSig();

public slots:
    void writeSettings(QString group, QString content, bool vis);
    void readSettings(QString group);

private slots:
    void toMainWindow();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::SeeLogs *ui;
};
