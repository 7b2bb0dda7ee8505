#include "dialogs/clubserver.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ClubServerDialog::ClubServerDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Club Server"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("PostgreSQL connection (empty: no club server), for example\n"
                                            "host=club.example.org dbname=trelvin user=n7ncs sslmode=require\n"
                                            "The password comes from ~/.pgpass or is asked once per run."),
                             this);
    layout->addWidget(label);
    connection = new QLineEdit(this);
    connection->setObjectName(QStringLiteral("clubConnection"));
    connection->setMinimumWidth(460);
    layout->addWidget(connection);
    result = new QLabel(this);
    result->setObjectName(QStringLiteral("clubResult"));
    result->setWordWrap(true);
    layout->addWidget(result);
    auto *buttons = new QHBoxLayout;
    testButton = new QPushButton(QStringLiteral("&Test"), this);
    saveButton = new QPushButton(QStringLiteral("&Save"), this);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    saveButton->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(testButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(testButton, &QPushButton::clicked, this, [this] { emit testSig(connection->text().trimmed()); });
    connect(saveButton, &QPushButton::clicked, this, [this] { emit saveSig(connection->text().trimmed()); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ClubServerDialog::showResult(const QString &text)
{
    result->setText(text);
}
