#include "app/prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

#include <cstdlib>

namespace {
Prompter *current = nullptr;

DialogPrompter &realPrompter()
{
    static DialogPrompter real;
    return real;
}
} // namespace

Prompter *Prompter::instance()
{
    return current ? current : &realPrompter();
}

void Prompter::setInstance(Prompter *prompter)
{
    current = prompter;
}

QMessageBox::StandardButton DialogPrompter::message(Kind kind, const QString &title, const QString &text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton defaultButton)
{
    QWidget *parent = QApplication::activeWindow();
    switch (kind) {
    case Information:
        return QMessageBox::information(parent, title, text, buttons, defaultButton);
    case Warning:
        return QMessageBox::warning(parent, title, text, buttons, defaultButton);
    case Critical:
        return QMessageBox::critical(parent, title, text, buttons, defaultButton);
    case Question:
        return QMessageBox::question(parent, title, text, buttons, defaultButton);
    }
    return QMessageBox::NoButton;
}

QString DialogPrompter::existingDirectory(const QString &caption, const QString &dir)
{
    return QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, dir,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks
                                                 | QFileDialog::DontUseNativeDialog);
}

QString DialogPrompter::openFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, dir, filter);
}

QString DialogPrompter::saveFileName(const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, dir, filter);
}

void DialogPrompter::exitProgram(int status)
{
    std::exit(status);
}

QString DialogPrompter::password(const QString &title, const QString &label)
{
    bool ok = false;
    const QString text =
        QInputDialog::getText(QApplication::activeWindow(), title, label, QLineEdit::Password, QString(), &ok);
    return ok ? text : QString();
}
