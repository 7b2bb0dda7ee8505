#include "attendance/attendancewindow.h"

#include "ui_attendancewindow.h"

#include <QEvent>
#include <QShortcut>

AttendanceWindow::AttendanceWindow(QWidget *parent) : QWidget(parent, Qt::Window), ui(new Ui::AttendanceWindow)
{
    ui->setupUi(this);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &AttendanceWindow::escaped);
    // The operator's hands stay on the keys: Ctrl+S saves as the button does.
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, ui->saveCsv, &QPushButton::click);
}

AttendanceWindow::~AttendanceWindow()
{
    delete ui;
}

void AttendanceWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        emit paletteChanged();
}
