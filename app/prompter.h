#pragma once

#include <QMessageBox>
#include <QString>

// Every modal question, notice and file chooser of the program goes through
// this one interface, so that tests can answer them from a script instead of
// blocking on a real dialog.
class Prompter {
public:
    enum Kind { Information, Warning, Critical, Question };

    virtual ~Prompter() = default;

    virtual QMessageBox::StandardButton message(Kind kind, const QString &title, const QString &text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) = 0;
    virtual QString existingDirectory(const QString &caption, const QString &dir) = 0;
    virtual QString openFileName(const QString &caption, const QString &dir, const QString &filter) = 0;
    virtual QString saveFileName(const QString &caption, const QString &dir, const QString &filter) = 0;
    // Ends the process at once; a scripted replacement records the call and returns.
    virtual void exitProgram(int status) = 0;
    // A password typed hidden; empty when the operator cancels.
    virtual QString password(const QString &title, const QString &label)
    {
        Q_UNUSED(title);
        Q_UNUSED(label);
        return QString();
    }

    static Prompter *instance();
    // nullptr restores the real dialogs.
    static void setInstance(Prompter *prompter);
};

// The real dialogs.
class DialogPrompter : public Prompter {
public:
    QMessageBox::StandardButton message(Kind kind, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    QString existingDirectory(const QString &caption, const QString &dir) override;
    QString openFileName(const QString &caption, const QString &dir, const QString &filter) override;
    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override;
    void exitProgram(int status) override;
    QString password(const QString &title, const QString &label) override;
};
