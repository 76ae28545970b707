#include "core/settings/SharedSettings.h"

QString ServerName;
QString ServerDataDir;
QString DatabaseName;
int PcUserNo = 0;
QString PcUserName;
int ListWidth = DefaultListWidth;
int ListHeight = DefaultListHeight;
std::array<int, 7> ListColWidths{64, 64, 64, 64, 64, 64, 64};
int ListPanelHeight = 32;
int PaintWidth = 320;
int PaintHeight = 240;
QString SaveDir;
int PenType = 0;
int PenSize = 1;
int PenColor = 0;

int EditMode = 0;
int CurrentImageNo = 0;
int CurrentImageWidth = 0;
int CurrentImageHeight = 0;

void AssignDefaultSettings()
{
    ServerName = QStringLiteral("localhost:");
    ServerDataDir.clear();
    DatabaseName = QStringLiteral("PAINT.FDB");
    PcUserNo = 0;
    PcUserName.clear();
    ListWidth = DefaultListWidth;
    ListHeight = DefaultListHeight;
    ListColWidths.fill(64);
    ListPanelHeight = 32;
    PaintWidth = 320;
    PaintHeight = 240;
    SaveDir.clear();
    PenType = 0;
    PenSize = 1;
    PenColor = 0;
}

QString DatabasePath()
{
    return ServerName + ServerDataDir + DatabaseName;
}

QString FolderSeparatorHint(const QString &folder)
{
    // Trailing blanks are another matter, not a missing separator.
    QString end = folder;
    while (!end.isEmpty() && end.back().isSpace())
        end.chop(1);
    if (end.isEmpty() || end.endsWith(QLatin1Char('/')) || end.endsWith(QLatin1Char('\\')))
        return {};
    // The kind the folder already uses; "/" when it uses none.
    const QChar sep = folder.contains(QLatin1Char('\\')) && !folder.contains(QLatin1Char('/')) ? QLatin1Char('\\')
                                                                                                : QLatin1Char('/');
    return QStringLiteral("\nサーバーのデータのフォルダの最後に「%1」がありません（例：「%2%1」）。").arg(sep).arg(folder);
}
