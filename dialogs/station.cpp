#include "dialogs/station.h"
#include "ui_station.h"

#include "app/constants.h"
#include "app/windowsettings.h"
#include "checkin/textrules.h"

#include <QCloseEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QShortcut>

#include <cmath>

namespace {

// Locator characters are computed in bytes, as signed 8-bit offsets, so that
// positions outside the globe give the same characters on every build instead
// of failing a range check.
qint8 toInt8(double value)
{
    if (!std::isfinite(value))
        return 0;
    const int low = static_cast<int>(std::fmod(std::trunc(value), 256.0)) & 0xFF;
    return static_cast<qint8>(low > 127 ? low - 256 : low);
}

char shifted(char base, int offset)
{
    return static_cast<char>((base + offset) & 0xFF);
}

// Typed call signs and states are shown in upper case without moving the cursor.
void upperCaseKeepingCursor(QLineEdit *edit, const QString &typed)
{
    const int position = edit->cursorPosition();
    edit->setText(typed.toUpper());
    edit->setCursorPosition(position);
}

} // namespace

QString maidenheadGrid(double lat, double lon)
{
    const double longitude = lon + 180.0;
    const double latitude = lat + 90.0;

    const qint8 fieldLon = toInt8(longitude / 20.0);
    const qint8 fieldLat = toInt8(latitude / 10.0);
    const double restLon = longitude - 20.0 * fieldLon;
    const double restLat = latitude - 10.0 * fieldLat;

    const qint8 squareLon = toInt8(0.5 * restLon);
    const qint8 squareLat = toInt8(restLat);
    // Divided by the nearest doubles to 1/12 and 1/24 (not multiplied by 12
    // and 24): at subsquare borders the two give different letters.
    const qint8 subLon = toInt8((restLon - 2.0 * squareLon) / 0.08333333333333333);
    const qint8 subLat = toInt8((restLat - squareLat) / 0.041666666666666664);

    const char locator[7] = {
        shifted('A', fieldLon),
        shifted('A', fieldLat),
        shifted('0', squareLon),
        shifted('0', squareLat),
        shifted('a', subLon),
        shifted('a', subLat),
        '\0',
    };
    // A zero byte ends the text early; the blanks keep the field six wide.
    return QStringLiteral("%1").arg(QString::fromLatin1(locator), 6);
}

Station::Station(QWidget *parent) : QDialog(parent), ui(new Ui::Station)
{
    ui->setupUi(this);
    keepWholeCharacters(this);

    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &Station::toMainWindow);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+c")), this), &QShortcut::activated, this,
            &Station::on_connectQRZ_clicked);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+s")), this), &QShortcut::activated, this,
            &Station::on_saveStation_clicked);
    connect(new QShortcut(QKeySequence(QStringLiteral("Alt+g")), this), &QShortcut::activated, this,
            &Station::on_getStation_clicked);
}

Station::~Station()
{
    delete ui;
}

void Station::writeSettings()
{
    openAtExit = WindowSettings::save(*this, Trel::Group::Station, isVisible()) == QLatin1String(Trel::Yes);
}

void Station::readSettings()
{
    openAtExit = WindowSettings::restore(*this, Trel::Group::Station).visible == QLatin1String(Trel::Yes);
}

void Station::toMainWindow()
{
    emit escapeSig();
}

void Station::on_connectQRZ_clicked()
{
    emit connectSig();
}

void Station::calculateGrid()
{
    const QString latText = ui->lat->text();
    const QString lonText = ui->lon->text();
    // Half-typed coordinates would give a locator for the wrong place.
    if (latText.isEmpty() || lonText.isEmpty())
        return;
    ui->grid->setText(maidenheadGrid(latText.toDouble(), lonText.toDouble()));
}

void Station::on_getStation_clicked()
{
    emit getStationSig();
}

void Station::on_saveStation_clicked()
{
    emit saveStationSig();
}

void Station::on_call_textEdited(const QString &arg1)
{
    upperCaseKeepingCursor(ui->call, arg1);
}

void Station::on_state_textEdited(const QString &arg1)
{
    upperCaseKeepingCursor(ui->state, arg1);
}

void Station::on_lat_textEdited()
{
    calculateGrid();
}

void Station::on_lon_textEdited()
{
    calculateGrid();
}

void Station::closeEvent(QCloseEvent *event)
{
    writeSettings();
    event->accept();
}
