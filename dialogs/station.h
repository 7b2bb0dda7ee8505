#pragma once

#include <QDialog>
#include <QString>

class QCloseEvent;

namespace Ui {
class Station;
}

// Six-character Maidenhead locator of a position in decimal degrees. Values
// outside the globe are not clamped: the characters simply run past 'R'.
QString maidenheadGrid(double lat, double lon);

// This station's details and the QRZ login. The main window owns the storage
// and network side; the dialog only edits its fields and asks by signals.
class Station : public QDialog {
    Q_OBJECT

public:
    explicit Station(QWidget *parent = nullptr);
    ~Station() override;

    // Whether the window was open when its settings were last written (at exit).
    bool openAtExit = false;

signals:
    void escapeSig();
    void getStationSig();
    void saveStationSig();
    void connectSig();

public slots:
    void writeSettings();
    void readSettings();
    void toMainWindow();
    void on_connectQRZ_clicked();
    void calculateGrid();
    void on_getStation_clicked();
    void on_saveStation_clicked();
    void on_call_textEdited(const QString &arg1);
    void on_state_textEdited(const QString &arg1);
    void on_lat_textEdited();
    void on_lon_textEdited();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The form is filled by the check-in desk and the look-ups, and coloured
    // with the window's theme; tests reach its fields by name.
    friend class CheckInDesk;
    friend class LookupController;
    friend class Trelvin;
    Ui::Station *ui;
};
