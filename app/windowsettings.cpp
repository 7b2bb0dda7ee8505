#include "app/windowsettings.h"

#include "app/constants.h"

#include <QSettings>
#include <QWidget>

namespace WindowSettings {

namespace {
QSettings store()
{
    return {QSettings::IniFormat, QSettings::UserScope, Trel::Organisation, Trel::Application};
}

QString write(const QWidget &window, const QString &group, bool visible, const QString *content)
{
    const QString flag = QLatin1String(visible ? Trel::Yes : Trel::No);
    QSettings settings = store();
    settings.beginGroup(group);
    settings.setValue(Trel::Key::Exist, QLatin1String(Trel::Yes));
    settings.setValue(Trel::Key::Visible, flag);
    if (content)
        settings.setValue(Trel::Key::Content, *content);
    settings.setValue(Trel::Key::Size, window.size());
    settings.setValue(Trel::Key::Position, window.pos());
    settings.endGroup();
    return flag;
}
} // namespace

QString save(const QWidget &window, const QString &group, bool visible)
{
    return write(window, group, visible, nullptr);
}

QString save(const QWidget &window, const QString &group, bool visible, const QString &content)
{
    return write(window, group, visible, &content);
}

Stored restore(QWidget &window, const QString &group, const QString &defaultContent)
{
    QSettings settings = store();
    settings.beginGroup(group);
    Stored stored;
    stored.visible = settings.value(Trel::Key::Visible, QLatin1String(Trel::No)).toString();
    stored.content = settings.value(Trel::Key::Content, defaultContent).toString();
    if (settings.value(Trel::Key::Exist).toString() == QLatin1String(Trel::Yes)) {
        window.resize(settings.value(Trel::Key::Size).toSize());
        window.move(settings.value(Trel::Key::Position, QPoint(0, 0)).toPoint());
    }
    settings.endGroup();
    return stored;
}

} // namespace WindowSettings
