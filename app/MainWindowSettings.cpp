// The main window and the settings file: read once at the first showing, written at the
// end, with the window's place kept where its title bar stays on a screen.
#include "app/MainWindow.h"

#include "core/settings/SettingsFile.h"
#include "core/settings/SharedSettings.h"
#include "forms/FormUtil.h"
#include "windows/DatabaseSettingsDialog.h"
#include "windows/MemberRegister.h"
#include "windows/PcUserDialog.h"
#include "windows/PenTipDialog.h"
#include "windows/SectionRegister.h"

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>

// The dialogs whose places the settings file keeps.
static QList<QWidget *> settingsDialogs()
{
    return {databaseSettingsDialog, sectionRegister, memberRegister, pcUserDialog, penTipDialog};
}

void MainWindow::LoadSettings(const QString &fileName)
{
    WindowPlacement placement = currentPlacement();
    if (!ReadSettingsFile(fileName, placement))
        return;
    // No bigger than the desktop: a damaged file must not ask for a bitmap of gigabytes.
    QSize room(placement.mainWidth, placement.mainHeight);
    if (const QScreen *s = screen())
        room = room.boundedTo(s->availableVirtualGeometry().size());
    SetOuterSize(this, room.width(), room.height());
    // Far enough out to be off every screen, near enough for a rectangle's arithmetic.
    const QPoint asked(std::clamp(placement.mainLeft, -100000, 100000),
                       std::clamp(placement.mainTop, -100000, 100000));
    wantedOuter_ = QRect(titleBarOnScreen(QRect(asked, room)), room);
    move(wantedOuter_.topLeft());
    sizeSet_ = size();
    const QList<QWidget *> dialogs = settingsDialogs();
    for (int i = 0; i < dialogs.size(); ++i)
        if (dialogs[i])
            dialogs[i]->move(placement.dialogs[i]);
}

QPoint MainWindow::titleBarOnScreen(const QRect &outer) const
{
    // The title bar: the frame's top strip.
    constexpr int titleHeight = 32;
    const QRect title(outer.left(), outer.top(), outer.width(), titleHeight);
    const QList<QScreen *> screens = QGuiApplication::screens();
    const QScreen *nearest = screen();
    int bestArea = -1;
    for (const QScreen *s : screens) {
        const QRect room = s->availableGeometry();
        const QRect inside = room.intersected(title);
        // Enough of it to grab: its whole height and a good part of its width.
        if (inside.height() == title.height() && inside.width() >= std::min(title.width(), 100))
            return outer.topLeft();
        const QRect overlap = room.intersected(outer);
        const int area = overlap.isEmpty() ? 0 : overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            nearest = s;
        }
    }
    if (!nearest)
        return outer.topLeft();
    const QRect room = nearest->availableGeometry();
    QPoint to = outer.topLeft();
    to.setY(std::clamp(to.y(), room.top(), std::max(room.top(), room.bottom() + 1 - titleHeight)));
    to.setX(std::clamp(to.x(), room.left() - std::max(outer.width() - 100, 0),
                       std::max(room.left(), room.right() + 1 - 100)));
    return to;
}

WindowPlacement MainWindow::currentPlacement() const
{
    WindowPlacement placement;
    const QRect outer = frameGeometry();
    placement.mainLeft = outer.left();
    placement.mainTop = outer.top();
    placement.mainWidth = outer.width();
    placement.mainHeight = outer.height();
    const QList<QWidget *> dialogs = settingsDialogs();
    for (int i = 0; i < dialogs.size(); ++i)
        if (dialogs[i])
            placement.dialogs[i] = dialogs[i]->pos();
    return placement;
}

void MainWindow::SaveSettings(const QString &fileName)
{
    // The window is closing: no box, but the loss is not silent either.
    QString why;
    if (!WriteSettingsFile(fileName, currentPlacement(), &why))
        std::fprintf(stderr, "oekaki: settings not saved: cannot write %s: %s\n",
                     qUtf8Printable(QDir::toNativeSeparators(fileName)), qUtf8Printable(why));
}

void MainWindow::readSettingsOnce()
{
    if (settingsRead_)
        return;
    settingsRead_ = true;
    const SettingsPlaces places = SettingFileOverride.isEmpty()
                                      ? SettingsPlacesFor(QCoreApplication::applicationFilePath())
                                      : SettingsPlaces{SettingFileOverride, UserSettingFileOverride};
    SettingFileName = places.beside;
    UserSettingFileName = places.user;
    LoadSettings(SettingsFileToRead(places));
}
