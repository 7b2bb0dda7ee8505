#include "pastnet/pastnetcontroller.h"

#include "app/clock.h"
#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "app/themes.h"
#include "checkin/textrules.h"
#include "pastnet/pastnetdialog.h"
#include "pastnet/pastnetrules.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>

namespace {

const char Title[] = "Log a Past Net";
const char BeginText[] = "Log a Past Net...";
const char EndText[] = "End Past Net";
const char RunningText[] = "Finish the running net first: its stations are in the net list, and a past net is "
                           "entered into an empty one.\nNothing was changed.";
// Wide enough for "HH:MM:SS".
const int FieldWidth = 64;
const int Gap = 4;

} // namespace

PastNetController::PastNetController(const Widgets &widgets, Storage &store, Clock *timeSource,
                                     const ThemeState *themeState, Host hooks, QObject *parent)
    : QObject(parent), w(widgets), storage(store), clock(timeSource), theme(themeState), host(std::move(hooks))
{
    // The last entry of Setup, after those other areas add.
    action = new QAction(QString::fromLatin1(BeginText), w.setupMenu);
    action->setObjectName(QStringLiteral("actionPastNet"));
    action->setStatusTip(QStringLiteral("Enter a net logged on paper, with its own date and times"));
    w.setupMenu->addAction(action);
    connect(action, &QAction::triggered, this, &PastNetController::toggle);

    status = new QLabel(w.statusBar);
    status->setObjectName(QStringLiteral("pastNetStatus"));
    status->hide();
    w.statusBar->addPermanentWidget(status);

    timeField = new QLineEdit(w.qso->parentWidget());
    timeField->setObjectName(QStringLiteral("pastTime"));
    timeField->setMaxLength(8);
    keepWholeCharacters(timeField);
    timeField->setFont(w.qso->font());
    timeField->setPlaceholderText(QStringLiteral("HH:MM"));
    timeField->setStatusTip(QStringLiteral("[Ctrl+T] Time of the paper log for the next entry (HH:MM); it stays "
                                           "until you type another"));
    timeField->hide();
    QWidget::setTabOrder(w.qso, timeField);
    connect(timeField, &QLineEdit::returnPressed, w.search, qOverload<>(&QWidget::setFocus));
    auto *toField = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), w.window);
    toField->setContext(Qt::WindowShortcut);
    connect(toField, &QShortcut::activated, this, [this] {
        if (!timeField->isHidden()) {
            timeField->setFocus(Qt::ShortcutFocusReason);
            timeField->selectAll();
        }
    });
    connect(theme, &ThemeState::changed, this, &PastNetController::paint);

    startDialog = new PastNetDialog(w.window);
    connect(startDialog, &QDialog::accepted, this, &PastNetController::startChosen);
}

PastNetController::~PastNetController() = default;

bool PastNetController::active() const
{
    return clock->pastNet();
}

void PastNetController::toggle()
{
    if (active()) {
        end();
        return;
    }
    // The net list holds one net: a past one would mix with the running one.
    if (host.netRunning()) {
        refuse(QString::fromLatin1(RunningText));
        return;
    }
    const QDateTime now = clock->live();
    startDialog->setStart(QDateTime(now.date(), QTime(now.time().hour(), 0)));
    startDialog->open();
}

void PastNetController::startChosen()
{
    const QDateTime start = startDialog->start();
    const QString problem = PastNetRules::startProblem(start, clock->live());
    if (!problem.isEmpty()) {
        refuse(problem + "\nNo past net was started.");
        // The operator corrects what was typed.
        startDialog->open();
        return;
    }
    // A net may have been started while the dialog was open.
    if (host.netRunning()) {
        refuse(QString::fromLatin1(RunningText));
        return;
    }
    begin(start);
}

void PastNetController::begin(const QDateTime &start)
{
    // The past net is a net of its own, also on the club server: whatever
    // shared net the empty list was part of is left.
    host.closeNet();
    const Storage::Result stamped = storage.journal().setPastTime(start);
    if (!stamped.ok()) {
        host.reportFailure(stamped, QStringLiteral("Starting the past net"));
        storage.journal().setPastTime(QDateTime());
        return;
    }
    keepStart(start);
    enterMode(start, start);
    qCInfo(lcCheckin).noquote() << "past net begun:" << start.toString(Qt::ISODate);
    timeField->setFocus(Qt::OtherFocusReason);
    timeField->selectAll();
}

void PastNetController::enterMode(const QDateTime &start, const QDateTime &last)
{
    clock->beginPastNet(start);
    clock->setPastTime(last);
    timeField->setText(PastNetRules::fieldText(last));
    host.pauseIdReminder(true);
    host.selectNet(start);
    showMode(true);
}

void PastNetController::keepStart(const QDateTime &start)
{
    QSettings file(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    file.beginGroup(Trel::Group::Main);
    if (start.isValid())
        file.setValue(Trel::Key::PastNetStart, start.toString(Qt::ISODate));
    else
        file.remove(Trel::Key::PastNetStart);
}

void PastNetController::resumeInterrupted()
{
    QSettings file(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    file.beginGroup(Trel::Group::Main);
    if (!file.contains(Trel::Key::PastNetStart) || active())
        return;
    const QDateTime start = QDateTime::fromString(file.value(Trel::Key::PastNetStart).toString(), Qt::ISODate);
    const std::optional<NetLogStore::InterruptedNet> net = storage.netLog().interruptedNet();
    // Not resumed (or nothing to resume): the past net ended with the last run.
    if (!start.isValid() || !net) {
        file.remove(Trel::Key::PastNetStart);
        return;
    }
    // The next time typed may not go back before what was stored.
    const QDateTime last = net->lastEntry.isValid() && net->lastEntry > start ? net->lastEntry : start;
    storage.journal().setPastTime(last);
    enterMode(start, last);
    qCInfo(lcCheckin).noquote() << "past net resumed:" << start.toString(Qt::ISODate);
}

void PastNetController::end()
{
    if (!active())
        return;
    // The past net is over: its list goes, its log rows stay.
    host.closeNet();
    const Storage::Result live = storage.journal().setPastTime(QDateTime());
    if (!live.ok())
        host.reportFailure(live, QStringLiteral("Ending the past net"));
    clock->endPastNet();
    keepStart(QDateTime());
    host.pauseIdReminder(false);
    showMode(false);
    qCInfo(lcCheckin) << "past net ended";
}

std::optional<QDateTime> PastNetController::entryTime()
{
    if (!active())
        return clock->now();
    const PastNetRules::Typed typed =
        PastNetRules::typedTime(timeField->text(), clock->pastStart(), clock->now(), clock->live());
    if (!typed.at.isValid()) {
        refuse(typed.problem + "\nNothing was stored.");
        timeField->setFocus(Qt::OtherFocusReason);
        timeField->selectAll();
        return std::nullopt;
    }
    if (typed.at != clock->now()) {
        const Storage::Result stamped = storage.journal().setPastTime(typed.at);
        if (!stamped.ok()) {
            host.reportFailure(stamped, QStringLiteral("Setting the time of the past net"));
            return std::nullopt;
        }
        clock->setPastTime(typed.at);
    }
    timeField->setText(PastNetRules::fieldText(typed.at));
    return typed.at;
}

void PastNetController::showMode(bool on)
{
    action->setText(QString::fromLatin1(on ? EndText : BeginText));
    action->setStatusTip(on ? QStringLiteral("Go back to the clock: the past net ends")
                            : QStringLiteral("Enter a net logged on paper, with its own date and times"));
    // The comment field makes room for the time field at its end.
    QLineEdit *qso = w.qso;
    if (on && timeField->isHidden()) {
        qsoWidth = qso->width();
        qso->resize(qsoWidth - FieldWidth - Gap, qso->height());
        timeField->setGeometry(qso->x() + qso->width() + Gap, qso->y(), FieldWidth, qso->height());
        timeField->show();
    } else if (!on && !timeField->isHidden()) {
        timeField->hide();
        qso->resize(qsoWidth, qso->height());
    }
    status->setText(on ? "Past net: " + clock->pastStart().toString(QStringLiteral("yyyy-MM-dd")) : QString());
    status->setVisible(on);
    paint();
}

void PastNetController::paint()
{
    // The alert colour: nobody takes a past net for tonight's. The theme's
    // alert names the text; a label draws in WindowText.
    const QColor alert = theme->alert().color(QPalette::Text);
    for (QWidget *widget : {static_cast<QWidget *>(status), static_cast<QWidget *>(timeField)}) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Text, alert);
        palette.setColor(QPalette::WindowText, alert);
        widget->setPalette(palette);
    }
}

void PastNetController::refuse(const QString &text)
{
    Prompter::instance()->message(Prompter::Warning, QString::fromLatin1(Title), text);
}
