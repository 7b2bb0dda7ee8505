#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;

// Band, mode and frequency of the net, written into its ADIF records when
// set. Opened from Setup; the main window keeps the values and the settings.
class NetDetails : public QDialog {
    Q_OBJECT

public:
    explicit NetDetails(QWidget *parent = nullptr);

    // Fills the fields; a band or mode not in the lists is kept as typed.
    void setValues(const QString &band, const QString &mode, const QString &frequency);
    QString band() const;
    QString mode() const;
    // The frequency in MHz as typed, with a comma taken for the decimal point;
    // empty when it is not a positive number.
    QString frequency() const;

    QComboBox *bandBox = nullptr;
    QComboBox *modeBox = nullptr;
    QLineEdit *frequencyEdit = nullptr;
};

namespace NetDetailsRules {
// The frequency in MHz as ADIF writes it ("146.520"), or empty when the
// text is not a positive number.
QString frequencyText(const QString &typed);
} // namespace NetDetailsRules
