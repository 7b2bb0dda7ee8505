#pragma once

#include <QDateTime>
#include <QDialog>

class QDateEdit;
class QLabel;
class QTimeEdit;

// The date and start of a net logged on paper, in local time, with the UTC
// of that start beside it. Opened from Setup; its OK begins the past net.
class PastNetDialog : public QDialog {
    Q_OBJECT

public:
    explicit PastNetDialog(QWidget *parent = nullptr);

    // Fills the fields with `start`.
    void setStart(const QDateTime &start);
    // The start as typed, local time.
    QDateTime start() const;

    QDateEdit *dateEdit = nullptr;
    QTimeEdit *timeEdit = nullptr;
    QLabel *utcLabel = nullptr;

private:
    void showUtc();
};
