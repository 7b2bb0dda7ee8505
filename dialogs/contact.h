#pragma once

#include <QDialog>
#include <QString>

class QCloseEvent;

namespace Ui {
class Contact;
}

// The full stored record of one station. The main window fills the fields and
// saves them; the dialog only asks for a QRZ lookup or a save by signals.
class Contact : public QDialog {
    Q_OBJECT

public:
    explicit Contact(QWidget *parent = nullptr);
    ~Contact() override;

    // Whether the window was open when its settings were last written (at exit).
    bool openAtExit = false;

signals:
    void escapeSig();
    void getContactSig();
    void saveContactSig();

public slots:
    void writeSettings();
    void readSettings();
    void on_getContact_clicked();
    void on_saveContact_clicked();
    void toMainWindow();
    void on_call_returnPressed();
    void on_call_textEdited(const QString &arg1);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The form is filled by the check-in desk, Call Search and the look-ups,
    // and coloured with the window's theme; tests reach its fields by name.
    friend class CheckInDesk;
    friend class CallSearch;
    friend class LookupController;
    friend class Trelvin;
    Ui::Contact *ui;
};
