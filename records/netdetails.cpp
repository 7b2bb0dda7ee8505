#include "records/netdetails.h"

#include "checkin/textrules.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

namespace {
// The amateur bands and the modes ADIF names, the usual ones of a net.
const char *const Bands[] = {"",    "160m", "80m", "60m", "40m",   "30m",  "20m",  "17m", "15m",
                             "12m", "10m",  "6m",  "2m",  "1.25m", "70cm", "33cm", "23cm"};
const char *const Modes[] = {"", "FM", "SSB", "AM", "CW", "DIGITALVOICE", "PKT", "RTTY", "PSK", "FT8", "MFSK"};

void fill(QComboBox *box, const char *const *items, size_t count)
{
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (size_t i = 0; i < count; ++i)
        box->addItem(QString::fromLatin1(items[i]));
}
} // namespace

namespace NetDetailsRules {
QString frequencyText(const QString &typed)
{
    QString text = typed.trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double mhz = text.toDouble(&ok);
    if (!ok || !(mhz > 0))
        return QString();
    return text;
}
} // namespace NetDetailsRules

NetDetails::NetDetails(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Net Band and Mode"));
    bandBox = new QComboBox(this);
    fill(bandBox, Bands, std::size(Bands));
    modeBox = new QComboBox(this);
    fill(modeBox, Modes, std::size(Modes));
    frequencyEdit = new QLineEdit(this);
    frequencyEdit->setMaxLength(12);
    keepWholeCharacters(frequencyEdit);
    frequencyEdit->setPlaceholderText(QStringLiteral("MHz, e.g. 146.520"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Band:"), bandBox);
    form->addRow(QStringLiteral("Mode:"), modeBox);
    form->addRow(QStringLiteral("Frequency (MHz):"), frequencyEdit);
    form->addRow(buttons);
    setStatusTip(QStringLiteral("Band, mode and frequency written into the net's ADIF file; empty ones are left out"));
}

void NetDetails::setValues(const QString &band, const QString &mode, const QString &frequency)
{
    bandBox->setCurrentText(band);
    modeBox->setCurrentText(mode);
    frequencyEdit->setText(frequency);
}

QString NetDetails::band() const
{
    return bandBox->currentText().trimmed().toLower();
}

QString NetDetails::mode() const
{
    return modeBox->currentText().trimmed().toUpper();
}

QString NetDetails::frequency() const
{
    return NetDetailsRules::frequencyText(frequencyEdit->text());
}
