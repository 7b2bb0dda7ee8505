#include "dialogs/clubserver.h"

#include "app/prompter.h"
#include "sync/clubinvite.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ClubServerDialog::ClubServerDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Club Server"));
    auto *layout = new QVBoxLayout(this);
    addClubLink(layout);
    auto *label = new QLabel(QStringLiteral("Or the club's PostgreSQL server (all empty: no club server).\n"
                                            "The password comes from ~/.pgpass or is asked once per run."),
                             this);
    layout->addWidget(label);

    auto *form = new QFormLayout;
    addServerFields(form);
    addTls(form);
    addCaFile(form);
    layout->addLayout(form);
    addAdvanced(layout);
    addResultAndButtons(layout);

    showFields(QString());
    // The title in full, with room for the frame's buttons.
    setMinimumWidth(std::max(minimumSizeHint().width(), fontMetrics().horizontalAdvance(windowTitle()) * 2 + 160));
}

void ClubServerDialog::addClubLink(QVBoxLayout *layout)
{
    auto *caption = new QLabel(QStringLiteral("Club &link (from the club's administrator; its password goes to "
                                              "the keyring):"),
                               this);
    layout->addWidget(caption);
    auto *row = new QHBoxLayout;
    clubLink = new QLineEdit(this);
    clubLink->setObjectName(QStringLiteral("clubLinkPaste"));
    clubLink->setPlaceholderText(QStringLiteral("trelvin-club://..."));
    clubLink->setMaxLength(ClubInvite::MaxLength);
    caption->setBuddy(clubLink);
    joinButton = new QPushButton(QStringLiteral("&Join"), this);
    joinButton->setObjectName(QStringLiteral("clubJoin"));
    joinButton->setAutoDefault(false);
    row->addWidget(clubLink);
    row->addWidget(joinButton);
    layout->addLayout(row);
    const auto join = [this] {
        if (joinButton->isEnabled() && !clubLink->text().trimmed().isEmpty())
            emit joinSig(clubLink->text());
    };
    connect(joinButton, &QPushButton::clicked, this, join);
    connect(clubLink, &QLineEdit::returnPressed, this, join);
    // A link pasted whole is used at once; one typed waits for Join.
    connect(clubLink, &QLineEdit::textEdited, this, [this, join](const QString &text) {
        const int grown = text.size() - pastedFrom;
        pastedFrom = text.size();
        if (grown > 1 && ClubInvite::parse(text))
            join();
    });
}

void ClubServerDialog::addServerFields(QFormLayout *form)
{
    const auto field = [this, form](const char *name, const QString &caption, const QString &placeholder) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setPlaceholderText(placeholder);
        form->addRow(caption, edit);
        connect(edit, &QLineEdit::textEdited, this, &ClubServerDialog::fieldsEdited);
        return edit;
    };
    host = field("clubHost", QStringLiteral("&Host:"), QStringLiteral("club.example.org"));
    port = field("clubPort", QStringLiteral("&Port:"), QStringLiteral("5432"));
    port->setValidator(new QIntValidator(1, 65535, port));
    database = field("clubDatabase", QStringLiteral("&Database:"), QStringLiteral("trelvin"));
    user = field("clubUser", QStringLiteral("&User:"), QStringLiteral("n7ncs"));
}

void ClubServerDialog::addTls(QFormLayout *form)
{
    tls = new QComboBox(this);
    tls->setObjectName(QStringLiteral("clubTls"));
    tls->addItems({QStringLiteral("Off"), QStringLiteral("Required"), QStringLiteral("Verify the server")});
    tls->setStatusTip(QStringLiteral("Off: only on a network you trust. Verify the server: its certificate must be "
                                     "signed by the CA file."));
    form->addRow(QStringLiteral("&TLS:"), tls);
    connect(tls, &QComboBox::currentIndexChanged, this, [this] {
        if (following)
            return;
        tlsNamed = true;
        fieldsEdited();
    });
}

void ClubServerDialog::addCaFile(QFormLayout *form)
{
    auto *caRow = new QHBoxLayout;
    caFile = new QLineEdit(this);
    caFile->setObjectName(QStringLiteral("clubCaFile"));
    caFile->setPlaceholderText(QStringLiteral("the CA certificate that signed the server's"));
    connect(caFile, &QLineEdit::textEdited, this, &ClubServerDialog::fieldsEdited);
    caBrowse = new QPushButton(QStringLiteral("&Browse..."), this);
    caBrowse->setObjectName(QStringLiteral("clubCaBrowse"));
    connect(caBrowse, &QPushButton::clicked, this, &ClubServerDialog::browseCaFile);
    caRow->addWidget(caFile);
    caRow->addWidget(caBrowse);
    // A label of its own, so that Alt+C reaches the field.
    auto *caLabel = new QLabel(QStringLiteral("&CA file:"), this);
    caLabel->setBuddy(caFile);
    form->addRow(caLabel, caRow);
}

void ClubServerDialog::addAdvanced(QVBoxLayout *layout)
{
    // The raw string, for settings the fields do not cover.
    advanced = new QPushButton(QStringLiteral("&Advanced"), this);
    advanced->setObjectName(QStringLiteral("clubAdvanced"));
    advanced->setCheckable(true);
    advanced->setAutoDefault(false);
    auto *advancedRow = new QHBoxLayout;
    advancedRow->addWidget(advanced);
    advancedRow->addStretch();
    layout->addLayout(advancedRow);
    advancedPart = new QWidget(this);
    advancedPart->setObjectName(QStringLiteral("clubAdvancedPart"));
    auto *advancedLayout = new QVBoxLayout(advancedPart);
    advancedLayout->setContentsMargins(0, 0, 0, 0);
    advancedLayout->addWidget(new QLabel(QStringLiteral("PostgreSQL connection string (libpq), for example\n"
                                                        "host=club.example.org dbname=trelvin user=n7ncs "
                                                        "sslmode=require"),
                                         advancedPart));
    connection = new QLineEdit(advancedPart);
    connection->setObjectName(QStringLiteral("clubConnection"));
    connection->setMinimumWidth(460);
    advancedLayout->addWidget(connection);
    advancedPart->hide();
    layout->addWidget(advancedPart);
    connect(advanced, &QPushButton::toggled, this, [this](bool shown) {
        advancedPart->setVisible(shown);
        if (shown)
            connection->setFocus(Qt::OtherFocusReason);
        adjustSize();
    });
    connect(connection, &QLineEdit::textChanged, this, &ClubServerDialog::showFields);
}

void ClubServerDialog::addResultAndButtons(QVBoxLayout *layout)
{
    result = new QLabel(this);
    result->setObjectName(QStringLiteral("clubResult"));
    result->setWordWrap(true);
    layout->addWidget(result);
    auto *buttons = new QHBoxLayout;
    // Alt+T is the TLS choice's.
    testButton = new QPushButton(QStringLiteral("T&est"), this);
    testButton->setObjectName(QStringLiteral("clubTest"));
    saveButton = new QPushButton(QStringLiteral("&Save"), this);
    saveButton->setObjectName(QStringLiteral("clubSave"));
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

void ClubServerDialog::showSetting(const QString &conninfo)
{
    connection->setText(conninfo);
    showResult(QString());
    // The link's password is not left on the screen.
    clubLink->clear();
    pastedFrom = 0;
    joinButton->setEnabled(true);
}

void ClubServerDialog::focusLink()
{
    clubLink->setFocus(Qt::OtherFocusReason);
}

void ClubServerDialog::showJoining()
{
    showResult(QStringLiteral("Asking the club server for its certificate authority..."));
    joinButton->setEnabled(false);
}

void ClubServerDialog::focusHost()
{
    host->setFocus(Qt::OtherFocusReason);
}

void ClubServerDialog::showTesting()
{
    showResult(QStringLiteral("Testing..."));
    testButton->setEnabled(false);
}

void ClubServerDialog::showTestResult(const QString &text)
{
    showResult(text);
    testButton->setEnabled(true);
}

void ClubServerDialog::showResult(const QString &text)
{
    result->setText(text);
    joinButton->setEnabled(true);
}

void ClubServerDialog::fieldsEdited()
{
    if (following)
        return;
    following = true;
    ClubLink::Fields fields;
    fields.host = host->text();
    fields.port = port->text();
    fields.dbname = database->text();
    fields.user = user->text();
    fields.tls = ClubLink::Tls(std::max(0, tls->currentIndex()));
    fields.caFile = caFile->text();
    fields.tlsNamed = tlsNamed;
    connection->setText(ClubLink::withFields(connection->text(), fields));
    // Unchosen, the TLS shown is the one the host gets.
    if (!tlsNamed)
        tls->setCurrentIndex(int(ClubLink::fields(connection->text()).tls));
    enableCaFile();
    following = false;
}

void ClubServerDialog::showFields(const QString &conninfo)
{
    if (following)
        return;
    following = true;
    const ClubLink::Fields fields = ClubLink::fields(conninfo);
    host->setText(fields.host);
    port->setText(fields.port);
    database->setText(fields.dbname);
    user->setText(fields.user);
    tls->setCurrentIndex(int(fields.tls));
    tlsNamed = fields.tlsNamed;
    caFile->setText(fields.caFile);
    enableCaFile();
    following = false;
}

void ClubServerDialog::enableCaFile()
{
    // Browsing for a CA file chooses "Verify the server"; typed, it counts there only.
    caFile->setEnabled(tls->currentIndex() == int(ClubLink::Tls::Verify));
}

void ClubServerDialog::browseCaFile()
{
    const QString current = caFile->text().trimmed();
    const QString path =
        Prompter::instance()->openFileName(QStringLiteral("Open the Club Server's CA Certificate"),
                                           current.isEmpty() ? QDir::homePath() : QFileInfo(current).absolutePath(),
                                           QStringLiteral("Certificates (*.crt *.pem *.cer);;All files (*)"));
    if (path.isEmpty())
        return;
    caFile->setText(path);
    tlsNamed = true;
    following = true;
    tls->setCurrentIndex(int(ClubLink::Tls::Verify));
    following = false;
    fieldsEdited();
    caFile->setFocus(Qt::OtherFocusReason);
}
