#include "pastnet/pastnetdialog.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QTimeEdit>

PastNetDialog::PastNetDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Log a Past Net"));
    dateEdit = new QDateEdit(this);
    dateEdit->setObjectName(QStringLiteral("pastDate"));
    dateEdit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dateEdit->setCalendarPopup(true);
    timeEdit = new QTimeEdit(this);
    timeEdit->setObjectName(QStringLiteral("pastStart"));
    timeEdit->setDisplayFormat(QStringLiteral("HH:mm"));
    utcLabel = new QLabel(this);
    utcLabel->setObjectName(QStringLiteral("pastUtc"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(dateEdit, &QDateEdit::dateChanged, this, &PastNetDialog::showUtc);
    connect(timeEdit, &QTimeEdit::timeChanged, this, &PastNetDialog::showUtc);

    auto *form = new QFormLayout(this);
    form->addRow(new QLabel(QStringLiteral("The net as the paper log has it; its check-ins are stored with "
                                           "this date and the times you type."),
                            this));
    form->addRow(QStringLiteral("Date:"), dateEdit);
    auto *startRow = new QHBoxLayout;
    startRow->addWidget(timeEdit);
    startRow->addWidget(utcLabel, 1);
    form->addRow(QStringLiteral("Start (local time):"), startRow);
    form->addRow(buttons);
    setStatusTip(QStringLiteral("Date and start of a net logged on paper, to be entered now"));
    showUtc();
}

void PastNetDialog::setStart(const QDateTime &start)
{
    dateEdit->setDate(start.date());
    timeEdit->setTime(QTime(start.time().hour(), start.time().minute()));
    showUtc();
}

QDateTime PastNetDialog::start() const
{
    return QDateTime(dateEdit->date(), timeEdit->time());
}

void PastNetDialog::showUtc()
{
    const QDateTime utc = start().toUTC();
    utcLabel->setText(utc.isValid() ? "= " + utc.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + " UTC" : QString());
}
