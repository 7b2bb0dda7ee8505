#include "dialogs/contact.h"
#include "ui_contact.h"

#include "app/constants.h"
#include "app/windowsettings.h"
#include "checkin/textrules.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QShortcut>

Contact::Contact(QWidget *parent) : QDialog(parent), ui(new Ui::Contact)
{
    ui->setupUi(this);
    keepWholeCharacters(this);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &Contact::toMainWindow);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+g")), this), &QShortcut::activated, this,
            &Contact::on_getContact_clicked);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+s")), this), &QShortcut::activated, this,
            &Contact::on_saveContact_clicked);
}

Contact::~Contact()
{
    delete ui;
}

void Contact::writeSettings()
{
    openAtExit = WindowSettings::save(*this, Trel::Group::Contact, isVisible()) == QLatin1String(Trel::Yes);
}

void Contact::readSettings()
{
    openAtExit = WindowSettings::restore(*this, Trel::Group::Contact).visible == QLatin1String(Trel::Yes);
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
