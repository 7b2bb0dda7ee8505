// Runs the program's net list on a runtime folder until it is killed: a
// stream of check-ins, role keys, comments, removals and moves of the mark,
// each step driven through the main window's slots. Before a step it prints
// what it is about to touch, after it the whole net list as stored and shown,
// so that the test that kills it knows what must have survived.
//
//   trelvin_netchild <runtime folder> <seed>

#include "testsupport.h"

#include "app/fonts.h"
#include "app/trelvin.h"
#include "ui_trelvin.h"

#include <QApplication>
#include <QSettings>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>
#include <random>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

struct Entry {
    int id = 0;
    QString call, name, city, state, comment, relay;
};

QList<Entry> entries(const Trelvin &w)
{
    QList<Entry> found;
    QSqlQuery query(fileDb(&w));
    query.exec(QStringLiteral("SELECT id, call, name, city, state, comment, relay FROM net ORDER BY id"));
    while (query.next())
        found.append({query.value(0).toInt(), query.value(1).toString(), query.value(2).toString(),
                      query.value(3).toString(), query.value(4).toString(), query.value(5).toString(),
                      query.value(6).toString()});
    return found;
}

// The list as stored, its mark and the lines shown, tab-separated.
QString state(const Trelvin &w)
{
    QStringList rows;
    QSqlQuery query(fileDb(&w));
    query.exec(QStringLiteral("SELECT id, call, name, city, state, comment, logId, status, relay, time, made FROM net "
                              "ORDER BY id"));
    while (query.next()) {
        QStringList values;
        for (int c = 0; c < 11; ++c)
            values.append(query.value(c).toString());
        rows.append(values.join(QLatin1Char('|')));
    }
    return QString::number(deskOf(&w)->markedEntry()) + QLatin1Char('\t')
           + FORM(&w, checkins)->toPlainText().replace(QLatin1Char('\n'), QLatin1Char('/')) + QLatin1Char('\t')
           + rows.join(QLatin1Char('\t'));
}

void fill(Trelvin &w, const Entry &entry, int id)
{
    deskOf(&w)->setEntry(id);
    FORM(&w, call)->setText(entry.call);
    FORM(&w, name)->setText(entry.name);
    FORM(&w, city)->setText(entry.city);
    FORM(&w, state)->setText(entry.state);
    FORM(&w, qso)->setText(entry.comment);
    FORM(&w, relay)->setText(entry.relay);
    for (QLineEdit *field :
         {FORM(&w, call), FORM(&w, name), FORM(&w, city), FORM(&w, state), FORM(&w, qso), FORM(&w, relay)})
        field->setModified(id == 0);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString root = QString::fromLocal8Bit(argv[1]);
    const unsigned seed = QByteArray(argv[2]).toUInt();

    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root + "/settings");
    QDir::setCurrent(root + "/bin");
    // Every question gets its default: Yes to resuming, Yes to removing.
    ScriptedPrompter prompter;
    Prompter::setInstance(&prompter);

    Trelvin w;
    // A start that stopped has nothing to drive; its boxes say why.
    if (!w.started()) {
        for (const ScriptedPrompter::Call &call : prompter.calls)
            std::fprintf(stderr, "start stopped: %s: %s\n", qPrintable(call.title), qPrintable(call.text));
        return 3;
    }
    const bool asked = prompter.titles().contains(QStringLiteral("Resume Net"));
    say(QStringLiteral("RESUMED\t%1\t").arg(asked ? 1 : 0) + state(w));

    std::mt19937 rng(seed);
    const auto pick = [&rng](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    const char *const names[] = {"Ann", "Bob", "Cy", "Dee", "Ed"};
    const char *const cities[] = {"Provo", "Ogden", "Moab", "Lehi"};
    QPushButton *const roleKeys[] = {FORM(&w, trafficButton), FORM(&w, relayButton), FORM(&w, mobileButton),
                                     FORM(&w, shortButton),   FORM(&w, NCSButton),   FORM(&w, logContactButton)};

    for (int step = 1;; ++step) {
        const QList<Entry> net = entries(w);
        int action = net.isEmpty() ? pick(2) : pick(8);
        // Keep the list the size of a real net.
        if (net.size() > 20 && action < 2)
            action = 5;
        const Entry *target = net.isEmpty() ? nullptr : &net.at(pick(int(net.size())));
        if (action < 2 || !target) {
            Entry fresh;
            // Calls are at most six characters: "K" and five base-36 digits
            // of the run (the seed's last three decimals) and the step.
            fresh.call = QLatin1Char('K') + QString::number((seed % 1000) * 1000 + step % 1000, 36).toUpper();
            fresh.name = QString::fromLatin1(names[pick(5)]);
            fresh.city = QString::fromLatin1(cities[pick(4)]);
            fresh.state = QStringLiteral("UT");
            say(QStringLiteral("DOING\t%1\tnew\t%2").arg(step).arg(fresh.call));
            fill(w, fresh, 0);
            if (action == 0)
                QTest::keyClick(FORM(&w, qso), Qt::Key_Return);
            else
                FORM(&w, trafficButton)->click();
        } else if (action == 2 || action == 3) {
            say(QStringLiteral("DOING\t%1\tentry\t%2").arg(step).arg(target->id));
            fill(w, *target, target->id);
            roleKeys[pick(6)]->click();
        } else if (action == 4) {
            say(QStringLiteral("DOING\t%1\tentry\t%2").arg(step).arg(target->id));
            Entry changed = *target;
            changed.comment = QStringLiteral("note %1").arg(step);
            changed.relay = pick(2) ? QStringLiteral("W7RLY") : QString();
            fill(w, changed, target->id);
            FORM(&w, qso)->setModified(true);
            QTest::keyClick(FORM(&w, qso), Qt::Key_Return);
        } else if (action == 5) {
            say(QStringLiteral("DOING\t%1\tentry\t%2").arg(step).arg(target->id));
            FORM(&w, delCon)->setText(target->call);
            deskOf(&w)->removeFromNet();
        } else {
            say(QStringLiteral("DOING\t%1\tmark\t0").arg(step));
            fill(w, Entry(), -1);
            deskOf(&w)->setEntry(0);
            (action == 6 ? callSearchOf(&w)->nextContact() : callSearchOf(&w)->previousContact());
        }
        say(QStringLiteral("DONE\t%1\t").arg(step) + state(w));
        prompter.calls.clear();
    }
}
