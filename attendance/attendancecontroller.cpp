#include "attendance/attendancecontroller.h"

#include "app/constants.h"
#include "app/logging.h"
#include "app/prompter.h"
#include "app/windowsettings.h"
#include "attendance/attendancewindow.h"
#include "data/csv.h"
#include "data/storage.h"
#include "files/filewriting.h"
#include "jobs/background.h"
#include "ui_attendancewindow.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QHash>
#include <QHeaderView>
#include <QLineSeries>
#include <QTableWidget>
#include <QTimer>
#include <QValueAxis>

namespace {
const char CsvFilter[] = "CSV Files (*.csv);;All Files (*.*)";
// Check-ins come every few seconds during a net: one read for a burst.
constexpr int ChangeDelayMs = 1500;
const int RangeMonths[] = {3, 12, 36, 0};

QString dayText(const QDate &day)
{
    return day.toString(QStringLiteral("MM/dd/yy"));
}

QTableWidgetItem *cell(const QString &text, bool number = false)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// Counts on whole ticks from 0: about five of them, never 1.5 stations.
void wholeSteps(QValueAxis *axis, int most)
{
    const int step = qMax(1, (most + 4) / 5);
    axis->setRange(0, step * qMax(1, (most + step) / step));
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setLabelFormat(QStringLiteral("%d"));
}

void startTable(QTableWidget *table, const QStringList &headers, qsizetype rows)
{
    table->setUpdatesEnabled(false);
    table->clearContents();
    table->setColumnCount(int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setRowCount(int(rows));
}

void endTable(QTableWidget *table)
{
    table->resizeColumnsToContents();
    table->setUpdatesEnabled(true);
}
} // namespace

// What one read hands from its thread to the window.
struct AttendanceController::Reading {
    QString path;
    QStringList members;
    std::shared_ptr<const Attendance::Log> log;
    QList<Attendance::Member> roster;
    QString failure;
    qint64 elapsedMs = 0;
};

AttendanceController::AttendanceController(Storage &store, JobRunner *jobRunner, Host hooks, QObject *parent)
    : QObject(parent),
      storage(store),
      host(std::move(hooks)),
      view(new AttendanceWindow),
      work(new BackgroundWork(jobRunner, this)),
      changeTimer(new QTimer(this))
{
    view->setObjectName(QStringLiteral("attendanceWindow"));
    Ui::AttendanceWindow *ui = view->form();
    for (QTableWidget *table : {ui->netTable, ui->monthTable, ui->regularTable, ui->absentTable}) {
        table->verticalHeader()->setVisible(false);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setAlternatingRowColors(true);
    }
    const WindowSettings::Stored stored =
        WindowSettings::restore(*view, QString::fromLatin1(Trel::Group::Attendance), QStringLiteral("12"));
    openAtExit = stored.visible == QLatin1String(Trel::Yes);
    // The range chosen last; 12 months when the settings hold none of ours.
    bool number = false;
    const int storedMonths = stored.content.toInt(&number);
    int index = 1;
    for (int i = 0; i < 4; ++i)
        if (number && RangeMonths[i] == storedMonths)
            index = i;
    ui->range->setCurrentIndex(index);

    changeTimer->setSingleShot(true);
    changeTimer->setInterval(ChangeDelayMs);
    connect(changeTimer, &QTimer::timeout, this, &AttendanceController::read);
    connect(work, &BackgroundWork::finished, this, &AttendanceController::readDone);
    connect(ui->range, qOverload<int>(&QComboBox::currentIndexChanged), this, &AttendanceController::rangeChosen);
    connect(ui->saveCsv, &QPushButton::clicked, this, &AttendanceController::saveCsv);
    connect(view, &AttendanceWindow::escaped, this, &AttendanceController::escaped);
    connect(view, &AttendanceWindow::paletteChanged, this, &AttendanceController::wearTheme);
}

AttendanceController::~AttendanceController()
{
    work->stop();
    delete view;
}

bool AttendanceController::reading() const
{
    return work->running();
}

int AttendanceController::monthsOfRange(int index)
{
    return index >= 0 && index < 4 ? RangeMonths[index] : 12;
}

void AttendanceController::reopenWindow()
{
    if (openAtExit)
        open();
}

void AttendanceController::writeWindowSettings()
{
    const int months = monthsOfRange(view->form()->range->currentIndex());
    openAtExit = WindowSettings::save(*view, QString::fromLatin1(Trel::Group::Attendance), view->isVisible(),
                                      QString::number(months))
                 == QLatin1String(Trel::Yes);
}

void AttendanceController::stop()
{
    changeTimer->stop();
    readAgain = false;
    work->stop();
}

void AttendanceController::open()
{
    view->setWindowTitle(host.club() + QStringLiteral(" Net Attendance"));
    if (stale || !log)
        read();
    else
        rangeChosen();
    view->show();
    view->raise();
    view->activateWindow();
    view->form()->range->setFocus(Qt::OtherFocusReason);
}

void AttendanceController::logChanged()
{
    stale = true;
    if (view->isVisible())
        changeTimer->start();
}

void AttendanceController::read()
{
    changeTimer->stop();
    if (work->running()) {
        readAgain = true;
        return;
    }
    if (!storage.contactsOpen()) {
        view->form()->summary->setText(QStringLiteral("The contacts database is not open."));
        return;
    }
    stale = false;
    current = std::make_shared<Reading>();
    current->path = storage.contactsDb().databaseName();
    current->members = storage.roster().memberCalls();
    if (!log)
        view->form()->summary->setText(QStringLiteral("Reading the log..."));
    const std::shared_ptr<Reading> reading = current;
    work->start(
        [reading](const std::atomic<bool> &cancelled, const std::function<void(int)> &) {
            QElapsedTimer clock;
            clock.start();
            Storage reader(workerConnectionName());
            const Storage::Result opened = reader.openWorker(reading->path, true);
            reader.stopReadingWhen(&cancelled);
            if (!opened.ok()) {
                reading->failure = opened.error;
                return;
            }
            QList<Attendance::CheckInRow> rows;
            const Storage::Result walked = reader.netLog().eachCheckIn([&rows](const LogRowView &row) {
                rows.append({QString::fromUtf8(row.date), QString::fromUtf8(row.time), QString::fromUtf8(row.call),
                             QString::fromUtf8(row.name)});
            });
            if (cancelled.load())
                return;
            if (!walked.ok()) {
                reading->failure = walked.error;
                return;
            }
            // Members never logged are named from their contact rows.
            QHash<QString, QString> names;
            if (!reading->members.isEmpty() && reader.roster().setMembers(reading->members).ok())
                reader.roster().eachMemberLine([&names](const Storage::ContactLine &line) {
                    names.insert(QString::fromUtf8(line.call), QString::fromUtf8(line.name));
                });
            for (const QString &call : std::as_const(reading->members))
                reading->roster.append({call, names.value(call)});
            reading->log = std::make_shared<const Attendance::Log>(Attendance::groupNets(rows));
            reading->elapsedMs = clock.elapsed();
        },
        true, QStringLiteral("attendance"));
}

void AttendanceController::readDone()
{
    const std::shared_ptr<Reading> reading = std::move(current);
    if (readAgain) {
        readAgain = false;
        read();
    }
    if (!reading)
        return;
    if (!reading->failure.isEmpty()) {
        view->form()->summary->setText(QStringLiteral("The log could not be read."));
        emit errorLine("Reading the log for the attendance failed: " + reading->failure);
        return;
    }
    if (!reading->log)
        return; // stopped
    qCDebug(lcReports).noquote() << "attendance read" << reading->log->nets.size() << "nets in" << reading->elapsedMs
                                 << "ms";
    log = reading->log;
    roster = reading->roster;
    rangeChosen();
}

void AttendanceController::rangeChosen()
{
    if (!log)
        return;
    const int months = monthsOfRange(view->form()->range->currentIndex());
    show(Attendance::figures(*log, roster, host.today(), months));
}

void AttendanceController::show(const Attendance::Figures &figures)
{
    shown = figures;
    QString summary = QStringLiteral("%1 nets, %2 check-ins by %3 stations, %4 to %5")
                          .arg(figures.nets.size())
                          .arg(figures.checkIns)
                          .arg(figures.stations)
                          .arg(dayText(figures.from), dayText(figures.to));
    if (figures.unreadable > 0)
        summary += QStringLiteral(" (%1 log rows without a date, time or call left out)").arg(figures.unreadable);
    view->form()->summary->setText(summary);
    showTables(figures);
    showCharts(figures);
    emit figuresShown();
}

void AttendanceController::showTables(const Attendance::Figures &figures)
{
    Ui::AttendanceWindow *ui = view->form();
    startTable(ui->netTable, {"Date", "Start", "Check-ins"}, figures.nets.size());
    for (int row = 0; row < figures.nets.size(); ++row) {
        const Attendance::NetFigure &net = figures.nets.at(row);
        ui->netTable->setItem(row, 0, cell(dayText(net.date)));
        ui->netTable->setItem(row, 1, cell(net.time.toString(QStringLiteral("HH:mm"))));
        ui->netTable->setItem(row, 2, cell(QString::number(net.checkIns), true));
    }
    endTable(ui->netTable);

    startTable(ui->monthTable, {"Month", "Nets", "Check-ins", "Per net", "New stations"}, figures.months.size());
    for (int row = 0; row < figures.months.size(); ++row) {
        const Attendance::MonthFigure &month = figures.months.at(row);
        ui->monthTable->setItem(row, 0, cell(month.month.toString(QStringLiteral("MMM yyyy"))));
        ui->monthTable->setItem(row, 1, cell(QString::number(month.nets), true));
        ui->monthTable->setItem(row, 2, cell(QString::number(month.checkIns), true));
        const QString perNet = month.nets ? QString::number(double(month.checkIns) / month.nets, 'f', 1) : QString();
        ui->monthTable->setItem(row, 3, cell(perNet, true));
        ui->monthTable->setItem(row, 4, cell(QString::number(month.newStations), true));
    }
    endTable(ui->monthTable);

    startTable(ui->regularTable, {"Call", "Name", "Nets", "Share", "Last check-in"}, figures.regulars.size());
    for (int row = 0; row < figures.regulars.size(); ++row) {
        const Attendance::RegularFigure &regular = figures.regulars.at(row);
        ui->regularTable->setItem(row, 0, cell(regular.call));
        ui->regularTable->setItem(row, 1, cell(regular.name));
        ui->regularTable->setItem(row, 2, cell(QString::number(regular.nets), true));
        ui->regularTable->setItem(row, 3, cell(QString::number(regular.share * 100, 'f', 1) + QLatin1Char('%'), true));
        ui->regularTable->setItem(row, 4, cell(dayText(regular.last)));
    }
    endTable(ui->regularTable);
    ui->regularTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);

    startTable(ui->absentTable, {"Call", "Name", "Last check-in", "Days"}, figures.absent.size());
    for (int row = 0; row < figures.absent.size(); ++row) {
        const Attendance::AbsentFigure &member = figures.absent.at(row);
        ui->absentTable->setItem(row, 0, cell(member.call));
        ui->absentTable->setItem(row, 1, cell(member.name));
        ui->absentTable->setItem(row, 2, cell(member.last.isValid() ? dayText(member.last) : QStringLiteral("never")));
        ui->absentTable->setItem(row, 3, cell(member.days < 0 ? QString() : QString::number(member.days), true));
    }
    endTable(ui->absentTable);
    ui->absentTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    ui->tables->setTabText(3, QStringLiteral("Absent Members (%1)").arg(figures.absent.size()));
}

void AttendanceController::showCharts(const Attendance::Figures &figures)
{
    Ui::AttendanceWindow *ui = view->form();
    auto *nets = new QChart;
    nets->setTitle(QStringLiteral("Check-ins per net"));
    auto *line = new QLineSeries;
    int most = 0;
    for (const Attendance::NetFigure &net : figures.nets) {
        line->append(double(QDateTime(net.date, net.time).toMSecsSinceEpoch()), net.checkIns);
        most = qMax(most, net.checkIns);
    }
    // Points for the few nets of a short range; a line alone for years of them.
    line->setPointsVisible(figures.nets.size() <= 120);
    nets->addSeries(line);
    auto *time = new QDateTimeAxis;
    time->setFormat(figures.to.daysTo(figures.from.addMonths(6)) > 0 ? QStringLiteral("MMM d")
                                                                     : QStringLiteral("MMM yy"));
    time->setRange(QDateTime(figures.from, QTime(0, 0)), QDateTime(figures.to.addDays(1), QTime(0, 0)));
    time->setTickCount(7);
    nets->addAxis(time, Qt::AlignBottom);
    line->attachAxis(time);
    auto *count = new QValueAxis;
    wholeSteps(count, most);
    nets->addAxis(count, Qt::AlignLeft);
    line->attachAxis(count);
    nets->legend()->hide();

    auto *months = new QChart;
    months->setTitle(QStringLiteral("New stations per month"));
    auto *set = new QBarSet(QStringLiteral("New stations"));
    QStringList labels;
    int newest = 0;
    for (const Attendance::MonthFigure &month : figures.months) {
        *set << month.newStations;
        newest = qMax(newest, month.newStations);
        labels << month.month.toString(QStringLiteral("MMM yy"));
    }
    auto *bars = new QBarSeries;
    bars->append(set);
    months->addSeries(bars);
    // The bars stand on months; a time axis under them names the months
    // without crowding, whatever the range.
    auto *monthAxis = new QBarCategoryAxis;
    monthAxis->append(labels);
    monthAxis->setVisible(false);
    months->addAxis(monthAxis, Qt::AlignBottom);
    bars->attachAxis(monthAxis);
    auto *monthTime = new QDateTimeAxis;
    monthTime->setFormat(QStringLiteral("MMM yy"));
    monthTime->setRange(QDateTime(figures.from, QTime(0, 0)),
                        QDateTime(QDate(figures.to.year(), figures.to.month(), 1).addMonths(1), QTime(0, 0)));
    monthTime->setTickCount(qBound(2, int(labels.size()) + 1, 7));
    months->addAxis(monthTime, Qt::AlignBottom);
    auto *newAxis = new QValueAxis;
    wholeSteps(newAxis, newest);
    months->addAxis(newAxis, Qt::AlignLeft);
    bars->attachAxis(newAxis);
    months->legend()->hide();

    for (QChartView *chartView : {ui->netChart, ui->monthChart}) {
        QChart *old = chartView->chart();
        chartView->setChart(chartView == ui->netChart ? nets : months);
        delete old;
    }
    wearTheme();
}

void AttendanceController::wearTheme()
{
    Ui::AttendanceWindow *ui = view->form();
    const QPalette palette = view->palette();
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    for (QChartView *chartView : {ui->netChart, ui->monthChart}) {
        QChart *chart = chartView->chart();
        // A theme resets the series' colours too, so only on a change.
        const QChart::ChartTheme theme = dark ? QChart::ChartThemeDark : QChart::ChartThemeLight;
        if (chart->theme() != theme)
            chart->setTheme(theme);
        chart->setBackgroundBrush(palette.color(QPalette::Base));
        chart->setTitleBrush(palette.color(QPalette::Text));
        chartView->setBackgroundBrush(palette.color(QPalette::Window));
        for (QAbstractAxis *axis : chart->axes()) {
            axis->setLabelsBrush(palette.color(QPalette::Text));
            axis->setTitleBrush(palette.color(QPalette::Text));
        }
    }
}

void AttendanceController::saveCsv()
{
    if (!log) {
        Prompter::instance()->message(Prompter::Information, QStringLiteral("Attendance Not Ready"),
                                      QStringLiteral("The log is still being read.\nNo file was written."));
        return;
    }
    const QString proposed =
        host.dataDir() + "/Attendance-" + host.club() + "-" + host.today().toString(QStringLiteral("yyMMdd")) + ".csv";
    const QString name = Prompter::instance()->saveFileName(QStringLiteral("Save Attendance CSV"), proposed,
                                                            QString::fromLatin1(CsvFilter));
    if (name.isEmpty())
        return;
    QString text;
    for (const QStringList &line : Attendance::csvLines(shown))
        text += csvRecord(line);
    QString error;
    if (!writeWholeFile(name, text.toUtf8(), error))
        emit errorLine(reportUnwritableFile(name, error));
}
