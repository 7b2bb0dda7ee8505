#include "reports/seelogs.h"

#include "app/constants.h"
#include "ui_seelogs.h"

#include "app/windowsettings.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>

SeeLogs::SeeLogs(QWidget *parent) : QDialog(parent), ui(new Ui::SeeLogs)
{
    ui->setupUi(this);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &SeeLogs::toMainWindow);
    // The header has no scroll bar of its own: it follows the report sideways
    // so that its column titles stay over their columns.
    connect(ui->log->horizontalScrollBar(), &QScrollBar::sliderMoved, ui->header->horizontalScrollBar(),
            &QScrollBar::setValue);
}

SeeLogs::~SeeLogs()
{
    delete ui;
}

void SeeLogs::writeSettings(QString group, QString content, bool vis)
{
    openAtExit = WindowSettings::save(*this, group, vis, content) == QLatin1String(Trel::Yes);
}

void SeeLogs::readSettings(QString group)
{
    openAtExit = WindowSettings::restore(*this, group).visible == QLatin1String(Trel::Yes);
}

void SeeLogs::toMainWindow()
{
    emit escapeSig();
}

// Closing only hides the window; the main window keeps it for the whole run.
void SeeLogs::closeEvent(QCloseEvent *event)
{
    event->accept();
}

QPlainTextEdit *SeeLogs::headerView() const
{
    return ui->header;
}

QPlainTextEdit *SeeLogs::logView() const
{
    return ui->log;
}
