#include "dialogs/contact.h"
#include "ui_contact.h"

#include "app/constants.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QSettings>
#include <QShortcut>

Contact::Contact(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Contact)
{
    ui->setupUi(this);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated,
            this, &Contact::toMainWindow);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+g")), this), &QShortcut::activated,
            this, &Contact::on_getContact_clicked);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+s")), this), &QShortcut::activated,
            this, &Contact::on_saveContact_clicked);
}

Contact::~Contact()
{
    delete ui;
}

void Contact::writeSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Contact);
    visibleFlag = QLatin1String(isVisible() ? Trel::Yes : Trel::No);
    settings.setValue(Trel::Key::Exist, QLatin1String(Trel::Yes));
    settings.setValue(Trel::Key::Visible, visibleFlag);
    settings.setValue(Trel::Key::Size, size());
    settings.setValue(Trel::Key::Position, pos());
    settings.endGroup();
}

void Contact::readSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application);
    settings.beginGroup(Trel::Group::Contact);
    visibleFlag = settings.value(Trel::Key::Visible, QLatin1String(Trel::No)).toString();
    if (settings.value(Trel::Key::Exist).toString() == QLatin1String(Trel::Yes)) {
        resize(settings.value(Trel::Key::Size).toSize());
        move(settings.value(Trel::Key::Position).toPoint());
    }
    settings.endGroup();
}

void Contact::on_getContact_clicked()
{
    emit getContactSig();
}

void Contact::on_saveContact_clicked()
{
    emit saveContactSig();
}

void Contact::toMainWindow()
{
    emit escapeSig();
}

// Enter in the call field looks the call up; saving is a deliberate Alt+S.
void Contact::on_call_returnPressed()
{
    emit getContactSig();
}

void Contact::setFocusCall()
{
    ui->call->setFocus(Qt::OtherFocusReason);
}

void Contact::on_call_textEdited(const QString &arg1)
{
    const int position = ui->call->cursorPosition();
    ui->call->setText(arg1.toUpper());
    ui->call->setCursorPosition(position);
}

void Contact::closeEvent(QCloseEvent *event)
{
    writeSettings();
    event->accept();
}
