#pragma once

#include <QWidget>

namespace Ui {
class AttendanceWindow;
}

// The attendance window's form. The controller fills it; the window only
// hands Escape back and says when the theme changed its palette.
class AttendanceWindow : public QWidget {
    Q_OBJECT

public:
    explicit AttendanceWindow(QWidget *parent = nullptr);
    ~AttendanceWindow() override;

    Ui::AttendanceWindow *form() const { return ui; }

signals:
    void escaped();
    void paletteChanged();

protected:
    void changeEvent(QEvent *event) override;

private:
    Ui::AttendanceWindow *ui;
};
