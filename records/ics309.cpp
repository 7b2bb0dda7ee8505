#include "records/ics309.h"

#include "data/csv.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace Ics309 {

namespace {

QString utcText(const QDateTime &moment)
{
    return moment.isValid() ? moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC")
                            : QString();
}

// Page geometry in points (the writer runs at 72 dots per inch).
constexpr qreal PageWidth = 612;
constexpr qreal PageHeight = 792;
constexpr qreal Margin = 36;
constexpr qreal Width = PageWidth - 2 * Margin;
constexpr qreal TitleHeight = 46;
constexpr qreal OperatorHeight = 30;
constexpr qreal LogTitleHeight = 14;
constexpr qreal TableHeadHeight = 24;
constexpr qreal FooterHeight = 40;
constexpr qreal RowHeight = 14;
constexpr qreal Pad = 3;
constexpr qreal TableTop = Margin + TitleHeight + OperatorHeight + LogTitleHeight + TableHeadHeight;
constexpr qreal TableBottom = PageHeight - Margin - FooterHeight;

// Columns of the log: time, from (call, message number), to (call, message
// number), message.
constexpr qreal Columns[] = {56, 78, 34, 78, 34, Width - 56 - 78 - 34 - 78 - 34};

qreal columnLeft(int column)
{
    qreal x = Margin;
    for (int i = 0; i < column; ++i)
        x += Columns[i];
    return x;
}

QFont font(qreal points, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// A label in small type at the top of a box, and its value below.
void labelled(QPainter &p, const QRectF &box, const QString &label, const QString &value)
{
    p.setFont(font(6.5));
    p.drawText(box.adjusted(Pad, 1, -Pad, 0), Qt::AlignLeft | Qt::AlignTop, label);
    p.setFont(font(9, true));
    p.drawText(box.adjusted(Pad, 0, -Pad, -Pad), Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, value);
}

void drawHead(QPainter &p, const Form &form)
{
    const qreal third = Width / 3;
    QRectF box(Margin, Margin, third, TitleHeight);
    p.drawRect(box);
    p.setFont(font(12, true));
    p.drawText(box.adjusted(Pad, 4, -Pad, 0), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("COMMUNICATIONS LOG"));
    p.setFont(font(8));
    p.drawText(box.adjusted(Pad, 0, -Pad, -6), Qt::AlignHCenter | Qt::AlignBottom, QStringLiteral("ICS 309"));

    box.translate(third, 0);
    p.drawRect(box);
    labelled(p, box, QStringLiteral("1. Incident Name:"), form.incident);

    box.translate(third, 0);
    p.drawRect(box);
    p.setFont(font(6.5));
    p.drawText(box.adjusted(Pad, 1, -Pad, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("2. Operational Period (Date/Time):"));
    p.setFont(font(8, true));
    p.drawText(box.adjusted(Pad, 12, -Pad, 0), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("From: ") + form.periodFrom);
    p.drawText(box.adjusted(Pad, 26, -Pad, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("To: ") + form.periodTo);

    QRectF op(Margin, Margin + TitleHeight, Width / 2, OperatorHeight);
    p.drawRect(op);
    labelled(p, op, QStringLiteral("3. Radio Operator (Name, Call Sign):"), form.radioOperator);
    op.translate(Width / 2, 0);
    p.drawRect(op);
    p.setFont(font(6.5));
    p.drawText(op.adjusted(Pad, 1, -Pad, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Times:"));
    p.setFont(font(7));
    p.drawText(op.adjusted(Pad, 9, -Pad, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, form.zoneNote);

    const QRectF logTitle(Margin, Margin + TitleHeight + OperatorHeight, Width, LogTitleHeight);
    p.fillRect(logTitle, QColor(225, 225, 225));
    p.drawRect(logTitle);
    p.setFont(font(8, true));
    p.drawText(logTitle.adjusted(Pad, 0, -Pad, 0), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("4. Communications Log:"));

    // Two header lines: the groups, then each column.
    const qreal top = logTitle.bottom();
    const qreal half = TableHeadHeight / 2;
    p.drawRect(QRectF(Margin, top, Width, TableHeadHeight));
    p.setFont(font(7, true));
    const auto head = [&](qreal x, qreal w, qreal y, qreal h, const QString &text) {
        p.drawRect(QRectF(x, y, w, h));
        p.drawText(QRectF(x, y, w, h), Qt::AlignCenter, text);
    };
    head(columnLeft(0), Columns[0], top, TableHeadHeight, QStringLiteral("Time (UTC)"));
    head(columnLeft(1), Columns[1] + Columns[2], top, half, QStringLiteral("FROM"));
    head(columnLeft(3), Columns[3] + Columns[4], top, half, QStringLiteral("TO"));
    head(columnLeft(5), Columns[5], top, TableHeadHeight, QStringLiteral("Message"));
    head(columnLeft(1), Columns[1], top + half, half, QStringLiteral("Call Sign/ID"));
    head(columnLeft(2), Columns[2], top + half, half, QStringLiteral("Msg #"));
    head(columnLeft(3), Columns[3], top + half, half, QStringLiteral("Call Sign/ID"));
    head(columnLeft(4), Columns[4], top + half, half, QStringLiteral("Msg #"));
}

void drawFoot(QPainter &p, const Form &form, int page, int pages)
{
    const qreal top = PageHeight - Margin - FooterHeight;
    QRectF box(Margin, top, Width * 0.45, FooterHeight);
    p.drawRect(box);
    labelled(p, box, QStringLiteral("5. Prepared By (Name, Call Sign):"), form.radioOperator);
    box = QRectF(box.right(), top, Width * 0.33, FooterHeight);
    p.drawRect(box);
    labelled(p, box, QStringLiteral("6. Date & Time Prepared:"), form.prepared);
    box = QRectF(box.right(), top, Margin + Width - box.right(), FooterHeight);
    p.drawRect(box);
    labelled(p, box, QStringLiteral("ICS 309"), QStringLiteral("Page %1 of %2").arg(page).arg(pages));
}

// Each row's height: a long message wraps inside its column. Measured on
// the page itself, whose dots are points.
QList<qreal> rowHeights(const Form &form, QPaintDevice *page)
{
    const QFontMetricsF metrics(font(8), page);
    QList<qreal> heights;
    heights.reserve(form.rows.size());
    for (const Row &row : form.rows) {
        const QRectF needed = metrics.boundingRect(QRectF(0, 0, Columns[5] - 2 * Pad, 1000),
                                                   Qt::TextWordWrap | Qt::TextWrapAnywhere, row.subject);
        heights << qMax(RowHeight, needed.height() + 2);
    }
    return heights;
}

} // namespace

Form fromNet(const NetRecord &net, const QDateTime &prepared, const QString &localZone)
{
    Form form;
    form.incident = net.club + QStringLiteral(" net");
    form.radioOperator = net.stationCall;
    form.prepared = utcText(prepared);
    form.zoneNote = QStringLiteral("All times UTC; the log keeps local time, ") + localZone + QLatin1Char('.');
    const QString control = net.netControl();
    QDateTime first, last;
    for (const NetCheckIn &checkIn : net.checkIns) {
        if (checkIn.utc.isValid()) {
            if (!first.isValid() || checkIn.utc < first)
                first = checkIn.utc;
            if (!last.isValid() || checkIn.utc > last)
                last = checkIn.utc;
        }
        QString subject = NetRecords::roleWord(checkIn.role);
        if (!checkIn.comment.isEmpty())
            subject += QStringLiteral(": ") + checkIn.comment;
        form.rows << Row{checkIn.utc.isValid() ? checkIn.utc.toUTC().toString(QStringLiteral("HH:mm"))
                                               : checkIn.time.left(5),
                         checkIn.call, control, subject};
    }
    form.periodFrom = utcText(first);
    form.periodTo = utcText(last);
    return form;
}

QByteArray csv(const Form &form)
{
    QString text = csvRecord(
        {QStringLiteral("Time (UTC)"), QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Subject")});
    for (const Row &row : form.rows)
        text += csvRecord({row.time, row.from, row.to, row.subject});
    return text.toUtf8();
}

int writePdf(const Form &form, QIODevice *device)
{
    QPdfWriter pdf(device);
    pdf.setResolution(72);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF()));
    pdf.setTitle(QStringLiteral("ICS 309 Communications Log: ") + form.incident);
    pdf.setCreator(QStringLiteral("Trelvin"));

    // Rows go on a page while they fit above the footer.
    const QList<qreal> heights = rowHeights(form, &pdf);
    QList<int> pageStarts{0};
    qreal y = TableTop;
    for (int i = 0; i < heights.size(); ++i) {
        if (y + heights[i] > TableBottom && i > pageStarts.last()) {
            pageStarts << i;
            y = TableTop;
        }
        y += heights[i];
    }
    const int pages = int(pageStarts.size());

    QPainter p;
    if (!p.begin(&pdf))
        return 0;
    p.setPen(QPen(Qt::black, 0.6));
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            pdf.newPage();
        drawHead(p, form);
        const int begin = pageStarts[page];
        const int end = page + 1 < pages ? pageStarts[page + 1] : int(form.rows.size());
        qreal top = TableTop;
        p.setFont(font(8));
        for (int i = begin; i < end; ++i) {
            const Row &row = form.rows[i];
            const qreal h = heights[i];
            const QString cells[] = {row.time, row.from, QString(), row.to, QString(), row.subject};
            for (int c = 0; c < 6; ++c) {
                const QRectF cell(columnLeft(c), top, Columns[c], h);
                p.drawRect(cell);
                const int align = c == 5
                                      ? int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextWrapAnywhere)
                                      : int(Qt::AlignCenter);
                p.drawText(cell.adjusted(Pad, 0, -Pad, 0), align, cells[c]);
            }
            top += h;
        }
        // The rest of the log's frame stays ruled and empty, as on the paper form.
        while (top + RowHeight <= TableBottom + 0.01) {
            for (int c = 0; c < 6; ++c)
                p.drawRect(QRectF(columnLeft(c), top, Columns[c], RowHeight));
            top += RowHeight;
        }
        drawFoot(p, form, page + 1, pages);
    }
    return p.end() ? pages : 0;
}

} // namespace Ics309
