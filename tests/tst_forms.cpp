#include "app/fonts.h"
#include "dialogs/contact.h"
#include "dialogs/station.h"
#include "ui_trelvin.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QtTest>

#include <memory>

namespace {

// The families the forms' fonts are measured with on Linux.
const QStringList MeasuredFamilies{"Liberation Sans", "Liberation Serif", "Liberation Mono"};

QString describe(QWidget *widget, const QString &text, const QSize &need)
{
    const QFontInfo font(widget->font());
    return QStringLiteral("%1 '%2' needs %3 x %4, has %5 x %6 (%7 %8 pt)")
        .arg(widget->objectName(), text)
        .arg(need.width())
        .arg(need.height())
        .arg(widget->width())
        .arg(widget->height())
        .arg(font.family())
        .arg(font.pointSizeF());
}

// What a caption needs to be shown whole in its widget, as the widget and its
// style lay it out; an empty size for a widget without a fixed caption.
QSize captionNeed(QWidget *widget, QString *text)
{
    const QFontMetrics metrics = widget->fontMetrics();
    const QStyle *style = widget->style();
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        *text = label->text();
        if (text->isEmpty())
            return {};
        // A wrapped caption needs its longest word across and all its lines down.
        if (label->wordWrap())
            return {label->minimumSizeHint().width(), label->heightForWidth(label->width())};
        return label->sizeHint();
    }
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        *text = button->text();
        if (text->isEmpty())
            return {};
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = *text;
        // The style's own padding of a caption, without the minimum width it
        // gives a button with text.
        const int frame = 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        const QSize caption = metrics.size(Qt::TextShowMnemonic, *text);
        return {caption.width() + margin + frame, caption.height() + frame};
    }
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        *text = edit->text();
        if (text->isEmpty())
            return {};
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
        const QRect contents = style->subElementRect(QStyle::SE_LineEditContents, &option, edit);
        const QMargins margins = edit->textMargins();
        // A line edit keeps 2 pixels of its own on either side of the text.
        const int padding = edit->width() - contents.width() + margins.left() + margins.right() + 4;
        const int border = edit->height() - contents.height() + margins.top() + margins.bottom();
        return {metrics.horizontalAdvance(*text) + padding, metrics.height() + border};
    }
    return {};
}

} // namespace

// The forms place their widgets at fixed pixels, drawn with the Windows
// families they name; on Linux those come from their free substitutes.
class TestForms : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void captionsFit_data();
    void captionsFit();
};

void TestForms::initTestCase()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    substituteFormFonts();
}

void TestForms::captionsFit_data()
{
    QTest::addColumn<QString>("form");
    // The report and document windows hold text views only, no captions.
    for (const char *form : {"main window", "station", "contact"})
        QTest::newRow(form) << QString::fromLatin1(form);
}

void TestForms::captionsFit()
{
    for (const QString &family : MeasuredFamilies) {
        if (!QFontDatabase::hasFamily(family))
            QSKIP(qPrintable("The captions are measured with " + family
                             + " (Debian's fonts-liberation2), which is not installed here."));
    }
    QFETCH(QString, form);
    std::unique_ptr<QWidget> window;
    Ui::Trelvin mainForm;
    if (form == QLatin1String("main window")) {
        // Its form alone: the captions as designed, before a net fills them.
        window = std::make_unique<QMainWindow>();
        mainForm.setupUi(static_cast<QMainWindow *>(window.get()));
    } else if (form == QLatin1String("station")) {
        window = std::make_unique<Station>();
    } else {
        window = std::make_unique<Contact>();
    }
    // Shown, so that the dialogs' layouts have placed every widget.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QStringList cut;
    int measured = 0;
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        // The toolkit's own parts (a spin box's line edit) are not the form's.
        if (widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QString text;
        const QSize need = captionNeed(widget, &text);
        if (need.isEmpty())
            continue;
        ++measured;
        if (need.width() > widget->width() || need.height() > widget->height())
            cut.append(describe(widget, text, need));
    }
    QVERIFY(measured > 0);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
