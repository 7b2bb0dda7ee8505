#include "reports/seelogs.h"
#include "ui_seelogs.h"

#include "app/constants.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>

SeeLogs::SeeLogs(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SeeLogs)
{
    ui->setupUi(this);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated,
            this, &SeeLogs::toMainWindow);
    // The header has no scroll bar of its own: it follows the report sideways
    // so that its column titles stay over their columns.
    connect(ui->log->horizontalScrollBar(), &QScrollBar::sliderMoved,
            ui->header->horizontalScrollBar(), &QScrollBar::setValue);
}

SeeLogs::~SeeLogs()
{
    delete ui;
}

void SeeLogs::writeSettings(QString group, QString content, bool vis)
{
    visibleFlag = QLatin1String(vis ? Trel::Yes : Trel::No);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(group);
    settings.setValue(Trel::Key::Exist, QLatin1String(Trel::Yes));
    settings.setValue(Trel::Key::Visible, visibleFlag);
    settings.setValue(Trel::Key::Content, content);
    settings.setValue(Trel::Key::Size, size());
    settings.setValue(Trel::Key::Position, pos());
    settings.endGroup();
}

void SeeLogs::readSettings(QString group)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(group);
    visibleFlag = settings.value(Trel::Key::Visible, QLatin1String(Trel::No)).toString();
    if (settings.value(Trel::Key::Exist).toString() == QLatin1String(Trel::Yes)) {
        resize(settings.value(Trel::Key::Size).toSize());
        move(settings.value(Trel::Key::Position, QPoint(0, 0)).toPoint());
    }
    settings.endGroup();
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
