#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "app/trelvin.h"
#include "files/filewriting.h"
#include "checkin/netrules.h"
#include "records/adif.h"
#include "records/ics309.h"
#include "records/netdetails.h"
#include "records/netrecordscontroller.h"
#include "records/utc.h"
#include "reports/reportlines.h"
#include "ui_trelvin.h"

#include <QBuffer>
#include <QLabel>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>

void Trelvin::createRecordTools()
{
    clockNow = [] { return QDateTime::currentDateTime(); };
    idStatus = new QLabel(this);
    idStatus->setObjectName(QStringLiteral("idStatus"));
    idStatus->setStatusTip(QStringLiteral("Minutes since net control last identified: [Ctrl+I] after you give your call"));
    idStatus->hide();
    statusBar()->addPermanentWidget(idStatus);
    auto *identifyKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_I), this);
    identifyKey->setContext(Qt::WindowShortcut);
    connect(identifyKey, &QShortcut::activated, this, &Trelvin::identify);
}

void Trelvin::readRecordSettings(QSettings &settings)
{
    idReminderOn = settings.value(Trel::Key::IdReminder, true).toBool();
    {
        const QSignalBlocker blocker(ui->actionIdReminder);
        ui->actionIdReminder->setChecked(idReminderOn);
    }
}

void Trelvin::writeRecordSettings(QSettings &settings)
{
    settings.setValue(Trel::Key::IdReminder, idReminderOn);
    if (netRecords)
        netRecords->writeSettings(settings);
}

// ---- The ten-minute identification.

void Trelvin::updateIdReminder()
{
    if (!idStatus)
        return;
    const QDateTime now = clockNow();
    idReminder.netChanged(storage.netLog().netId(Storage::Seek::First).has_value(), now);
    const bool showing = idReminderOn && idReminder.running();
    const bool due = showing && idReminder.due(now);
    if (showing) {
        const QString text = idReminder.text(now);
        if (idStatus->text() != text)
            idStatus->setText(text);
        idStatus->show();
    } else {
        idStatus->hide();
        idStatus->clear();
    }
    // The clock field carries the alert: nothing takes the keyboard away.
    const QPalette &wanted = due ? palettes->alert() : palettes->info();
    for (QWidget *field : {static_cast<QWidget *>(ui->time), static_cast<QWidget *>(idStatus)}) {
        if (field->palette().color(QPalette::Text) != wanted.color(QPalette::Text)
            || field->palette().color(QPalette::WindowText) != wanted.color(QPalette::Text)) {
            QPalette palette = field->palette();
            palette.setColor(QPalette::Text, wanted.color(QPalette::Text));
            palette.setColor(QPalette::WindowText, wanted.color(QPalette::Text));
            field->setPalette(palette);
        }
    }
}

void Trelvin::identify()
{
    idReminder.identified(clockNow());
    updateIdReminder();
}

void Trelvin::noteNetKey(int type, const QString &call)
{
    using namespace NetRules;
    if (!(type & (Ncs | CheckedIn)) || call.isEmpty())
        return;
    const std::optional<int> status = storage.netLog().netStatus(call);
    // Net control giving its call: F7 marks it, or it checks in again.
    if (status && (*status & Ncs) && ((type & Ncs) || (*status & CheckedIn)))
        identify();
}

void Trelvin::on_actionIdReminder_toggled(bool on)
{
    idReminderOn = on;
    updateIdReminder();
}
