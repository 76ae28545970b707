#include "windows/ImageList.h"

#include "forms/FormUtil.h"
#include "forms/DbCommand.h"
#include "core/catalogue/ImageRequests.h"
#include "core/catalogue/PresenceRequests.h"
#include "core/painting/PaintWorker.h"
#include "core/presence/PresenceBoard.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"
#include "windows/ImageRecordEditor.h"
#include "windows/OpenPictureMarks.h"
#include "windows/PaintWindow.h"

#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int ColumnCount = 7;

const char *const Headers[ColumnCount] = {"番号", "名前", "メモ１", "横サイズ", "縦サイズ", "作成日付", "更新日付"};

struct SortChoice {
    const char *item;
    const char *order;
};
const SortChoice SortChoices[] = {
    {"番号↓", "N"},
    {"番号↑", "N DESC"},
    {"名前↓", "INAME"},
    {"名前↑", "INAME DESC"},
    {"メモ１↓", "MEMO1,N"},
    {"メモ１↑", "MEMO1 DESC,N DESC"},
    {"作成日付↓", "DATE1,N"},
    {"作成日付↑", "DATE1 DESC,N DESC"},
    {"更新日付↓", "DATE2,N"},
    {"更新日付↑", "DATE2 DESC,N DESC"},
};

struct FilterChoice {
    const char *item;
    const char *column;
};
const FilterChoice FilterChoices[] = {
    {"（無し）", ""}, {"名前", "INAME"}, {"メモ１", "MEMO1"}, {"作成日付", "DATE1"}, {"更新日付", "DATE2"},
};

const QString AuthorCaption = QStringLiteral("作成者：");
const QString SizeCaption = QStringLiteral("サイズ：");
const QString DateCaption = QStringLiteral("日　付：");

QLineEdit *readOnlyBox(QWidget *parent, int x, int y)
{
    QLineEdit *e = MakeEdit(parent, x, y, 377, 21);
    e->setReadOnly(true);
    return e;
}

} // namespace

ImageList::ImageList(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("画像一覧表示"));
    QWidget *c = client();

    Panel2 = new QWidget(c);
    Panel2->setFixedHeight(57);
    SetBackground(Panel2, QColor(0x8C, 0xBA, 0xEC));
    Button1 = MakeButton(Panel2, QStringLiteral("最初(&F)"), 8, 4, 75, 25);
    Button2 = MakeButton(Panel2, QStringLiteral("前頁(&P)"), 88, 4, 75, 25);
    Button3 = MakeButton(Panel2, QStringLiteral("次頁(&N)"), 168, 4, 75, 25);
    Button4 = MakeButton(Panel2, QStringLiteral("更新(&U)"), 248, 4, 75, 25);
    Button9 = MakeButton(Panel2, QStringLiteral("画像データ削除"), 352, 4, 121, 25);
    MakeLabel(Panel2, QStringLiteral("並び順："), 8, 36);
    ComboBox1 = new QComboBox(Panel2);
    ComboBox1->setGeometry(64, 32, 105, 21);
    for (const SortChoice &s : SortChoices)
        ComboBox1->addItem(QString::fromUtf8(s.item));
    ComboBox1->setCurrentIndex(-1);
    MakeLabel(Panel2, QStringLiteral("絞り込み："), 176, 36);
    Edit1 = MakeEdit(Panel2, 248, 32, 121, 21);
    // No length limit, but only what the database's character set can hold.
    LimitCp932Bytes(Edit1, 0);
    ComboBox2 = new QComboBox(Panel2);
    ComboBox2->setGeometry(368, 32, 105, 21);
    for (const FilterChoice &f : FilterChoices)
        ComboBox2->addItem(QString::fromUtf8(f.item));
    ComboBox2->setCurrentIndex(-1);

    SG1 = new QTableWidget(0, ColumnCount);
    SG1->setSelectionBehavior(QAbstractItemView::SelectRows);
    SG1->setSelectionMode(QAbstractItemView::SingleSelection);
    SG1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SG1->setShowGrid(true);
    SG1->verticalHeader()->hide();
    SG1->verticalHeader()->setDefaultSectionSize(20);
    SG1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    SG1->horizontalHeader()->setHighlightSections(false);
    SG1->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: #85B6EB; border: 1px solid #6A94C4; padding: 1px; }"));

    Panel1 = new QWidget;
    SetBackground(Panel1, QColor(0x85, 0xB6, 0xEB));
    MakeLabel(Panel1, QStringLiteral("名前"), 8, 8);
    Edit2 = readOnlyBox(Panel1, 48, 4);
    Button5 = MakeButton(Panel1, QStringLiteral("▲"), 428, 4, 25, 22);
    Button6 = MakeButton(Panel1, QStringLiteral("▼"), 456, 4, 25, 22);
    Button7 = MakeButton(Panel1, QStringLiteral("編集(&E)"), 484, 4, 65, 22);
    Button8 = MakeButton(Panel1, QStringLiteral("詳細(&D)"), 552, 4, 65, 22);
    MakeLabel(Panel1, QStringLiteral("メモ"), 8, 32);
    Edit3 = readOnlyBox(Panel1, 48, 28);
    Edit4 = readOnlyBox(Panel1, 48, 52);
    Edit5 = readOnlyBox(Panel1, 48, 76);
    for (QLineEdit *e : {Edit3, Edit4, Edit5})
        e->setMaxLength(80);
    LabelA = MakeLabel(Panel1, AuthorCaption, 432, 32);
    LabelB = MakeLabel(Panel1, SizeCaption, 432, 56);
    LabelC = MakeLabel(Panel1, DateCaption, 432, 80);
    for (QLabel *l : {LabelA, LabelB, LabelC})
        l->setFixedWidth(260);

    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(SG1);
    Splitter1->addWidget(Panel1);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);

    auto *layout = new QVBoxLayout(c);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel2);
    layout->addWidget(Splitter1, 1);

    connect(Button1, &QPushButton::clicked, this, &ImageList::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &ImageList::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &ImageList::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &ImageList::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &ImageList::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &ImageList::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &ImageList::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &ImageList::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &ImageList::Button9Click);
    connect(ComboBox1, &QComboBox::activated, this, &ImageList::ComboBox1Select);
    connect(ComboBox2, &QComboBox::activated, this, &ImageList::ComboBox2Select);
    connect(SG1, &QTableWidget::cellDoubleClicked, this, &ImageList::Button8Click);
    connect(SG1, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
        if (row < 0)
            return;
        selectedOnPress_ = true;
        SG1SelectCell(col < 0 ? 0 : col, TableRowToGrid(row));
    });
    // Clicking the row that is already current selects it again.
    SG1->viewport()->installEventFilter(this);
    connect(SG1, &QTableWidget::cellClicked, this, [this](int row, int col) {
        if (!selectedOnPress_)
            SG1SelectCell(col, TableRowToGrid(row));
        selectedOnPress_ = false;
    });
    Panel1->installEventFilter(this);

    resize(632, 451);
}

QStringList ImageList::PageStatement(const QString &filterCondition, const QString &sortOrder)
{
    QStringList lines{QStringLiteral("SELECT * FROM IMGLIST")};
    if (!filterCondition.isEmpty())
        lines << QStringLiteral("  WHERE ") + filterCondition;
    lines << QStringLiteral("  ORDER BY ") + sortOrder + QLatin1Char(';');
    return lines;
}

QString ImageList::SortOrderFor(int index)
{
    if (index < 0 || index >= int(std::size(SortChoices)))
        return QString();
    return QString::fromLatin1(SortChoices[index].order);
}

QString ImageList::FilterConditionFor(int index, const QString &text)
{
    if (index <= 0 || index >= int(std::size(FilterChoices)) || text.isEmpty())
        return QString();
    // Doubling the quotes keeps the text inside the literal whatever it holds.
    QString literal = text;
    literal.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QString::fromLatin1(FilterChoices[index].column) + QStringLiteral(" LIKE '%") + literal
           + QStringLiteral("%'");
}

int ImageList::panelHeight() const
{
    return isMinimized() ? normalPanelHeight_ : Panel1->height();
}

void ImageList::setPanelHeight(int height)
{
    QList<int> sizes = Splitter1->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    Splitter1->setSizes({qMax(0, total - height), height});
    // Before the splitter has its size, the panel takes the height directly.
    if (total <= 0)
        Panel1->resize(Panel1->width(), height);
    normalPanelHeight_ = Panel1->height();
}

bool ImageList::eventFilter(QObject *watched, QEvent *event)
{
    // The sub-window filters its own widgets too, before ours exist.
    if (SG1 && watched == SG1->viewport() && event->type() == QEvent::MouseButtonPress)
        selectedOnPress_ = false;
    else if (Panel1 && watched == Panel1 && event->type() == QEvent::Resize && !isMinimized())
        normalPanelHeight_ = Panel1->height();
    return ChildForm::eventFilter(watched, event);
}

void ImageList::resizeEvent(QResizeEvent *e)
{
    ChildForm::resizeEvent(e);
    if (!isMinimized() && !isMaximized())
        normalSize_ = e->size();
}

// The right and bottom edges of a panel's buttons, boxes and lists.
static QPoint controlsExtent(const QWidget *panel)
{
    QPoint extent;
    for (const QWidget *w : panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QLineEdit *>(w)
            || qobject_cast<const QComboBox *>(w))
            extent = QPoint(qMax(extent.x(), w->geometry().right() + 1), qMax(extent.y(), w->geometry().bottom() + 1));
    return extent;
}

int ImageList::panelHeightShowingEveryControl() const
{
    return controlsExtent(Panel1).y() + 4;
}

QSize ImageList::sizeShowingEveryControl() const
{
    const int clientWidth = qMax(controlsExtent(Panel1).x(), controlsExtent(Panel2).x()) + 8;
    // Room for the top bar, the grid's header and ten rows, the handle and the panel.
    const int clientHeight = Panel2->height() + SG1->horizontalHeader()->sizeHint().height()
                             + 10 * SG1->verticalHeader()->defaultSectionSize() + Splitter1->handleWidth()
                             + panelHeightShowingEveryControl() + 2 * SG1->frameWidth();
    const QSize frame = size() - client()->size();
    return QSize(clientWidth, clientHeight) + frame;
}

void ImageList::FormShow()
{
    // The default size cuts off the panel's buttons; a size the user saved stands.
    const bool firstOpening = ListWidth == DefaultListWidth && ListHeight == DefaultListHeight;
    if (QLayout *l = layout())
        l->activate();
    resize(firstOpening ? sizeShowingEveryControl() : QSize(ListWidth, ListHeight));
    if (QLayout *l = client()->layout())
        l->activate();
    for (int i = 0; i < ColumnCount; ++i)
        SG1->setColumnWidth(i, ListColWidths[i]);
    setPanelHeight(firstOpening ? qMax(ListPanelHeight, panelHeightShowingEveryControl()) : ListPanelHeight);
    PageSize = 100;
    PageTop = 1;
    NextPageTop = 0;
    FilterCondition.clear();
    SortOrder = QStringLiteral("N");
    QStringList headers;
    for (const char *h : Headers)
        headers << QString::fromUtf8(h);
    SG1->setHorizontalHeaderLabels(headers);
    // Widths the user dragged stand, narrow or not.
    if (firstOpening)
        FitColumnsToHeaders(SG1, false);
    {
        const QSignalBlocker block(SG1);
        SetGridRowCount(SG1, PageSize + 1);
        SG1->setCurrentCell(0, 0);
    }
    ClearGrid();
    Button4Click();
    Button1->setFocus();
    // While a painting window keeps the database's presence read, the marks follow it.
    if (MainLink *link = MainWindowLink())
        connect(&link->Worker().Presence(), &PresenceBoard::Changed, this, [this, link](const QString &database) {
            if (database != DatabasePath())
                return;
            const PresenceRoster roster = link->Worker().Presence().RosterOf(database);
            // Its last window closed (or its line lost): one read of our own, then still.
            if (roster.ok)
                ShowOpenPictureMarks(SG1, roster);
            else
                readMarks();
        });
}

void ImageList::FormClose()
{
    const QSize outer = (isMinimized() || isMaximized()) && normalSize_.isValid() ? normalSize_ : size();
    ListWidth = outer.width();
    ListHeight = outer.height();
    for (int i = 0; i < ColumnCount; ++i)
        ListColWidths[i] = SG1->columnWidth(i);
    ListPanelHeight = panelHeight();
}

void ImageList::ClearGrid()
{
    const int rows = GridRowCount(SG1);
    for (int r = 1; r < rows; ++r)
        for (int col = 0; col < ColumnCount; ++col)
            SetGridCell(SG1, col, r, QString());
}

template <class R>
void ImageList::Ask(DbRequest<R> request, std::function<void(R, DbReply)> answer)
{
    AskDb<R>(this, std::move(request), std::move(answer), {Button5, Button6});
}

void ImageList::LoadPage(int top)
{
    Ask<PageRead>(ReadImagePage(PageStatement(FilterCondition, SortOrder), top, PageSize),
                  [this, top](PageRead page, DbReply reply) {
                      // No answer: the page stays. A statement the server refused (a
                      // filter it cannot take) shows an empty page, as ever.
                      if (reply.lost) {
                          ReportUnreadable();
                          return;
                      }
                      ClearGrid();
                      PageTop = top;
                      int row = 1;
                      for (const QStringList &cells : std::as_const(page.rows)) {
                          for (int col = 0; col < ColumnCount; ++col)
                              SetGridCell(SG1, col, row, cells.value(col));
                          ++row;
                      }
                      NextPageTop = PageTop + int(page.rows.size());
                      showSelectedRecord();
                      readMarks();
                  });
}

void ImageList::readMarks()
{
    MainLink *link = MainWindowLink();
    if (!link)
        return;
    // Not a command: nothing waits for it, and a failed read marks nothing.
    link->Database().Ask<PresenceRoster>(AnswerContext(this), ReadOpenPictures(),
                                         [this](PresenceRoster roster, DbReply) { ShowOpenPictureMarks(SG1, roster); });
}

void ImageList::showSelectedRecord()
{
    // The row highlighted before, when it holds a record, else the first; none on an empty page.
    int r = GridCurrentRow(SG1);
    if (TextToInt(GridCell(SG1, 0, r)) <= 0)
        r = TextToInt(GridCell(SG1, 0, 1)) > 0 ? 1 : 0;
    {
        const QSignalBlocker block(SG1);
        if (r > 0) {
            SG1->setCurrentCell(GridRowToTable(r), qMax(0, SG1->currentColumn()));
            SG1->selectRow(GridRowToTable(r));
        } else {
            SG1->setCurrentCell(-1, -1);
            SG1->clearSelection();
        }
    }
    SG1SelectCell(0, r);
}

void ImageList::Button1Click()
{
    LoadPage(1);
}

void ImageList::Button2Click()
{
    LoadPage(PageTop > 1 ? qMax(1, PageTop - PageSize) : PageTop);
}

void ImageList::Button3Click()
{
    LoadPage(NextPageTop);
}

void ImageList::Button4Click()
{
    LoadPage(PageTop);
}

void ImageList::Button5Click()
{
    setPanelHeight(100);
}

void ImageList::Button6Click()
{
    setPanelHeight(28);
}

void ImageList::ComboBox1Select()
{
    const int index = ComboBox1->currentIndex();
    if (index < 0)
        return;
    SortOrder = SortOrderFor(index);
    Button1Click();
}

void ImageList::ComboBox2Select()
{
    const int index = ComboBox2->currentIndex();
    if (index < 0)
        return;
    FilterCondition = FilterConditionFor(index, Edit1->text());
    Button1Click();
}

void ImageList::SG1SelectCell(int, int ARow)
{
    for (QLineEdit *e : {Edit2, Edit3, Edit4, Edit5})
        e->clear();
    LabelA->setText(AuthorCaption);
    LabelB->setText(SizeCaption);
    LabelC->setText(DateCaption);
    const int n = TextToInt(GridCell(SG1, 0, ARow));
    if (n <= 0)
        return;
    Ask<RecordRead>(ReadImageRecordWithAuthor(n), [this](RecordRead read, DbReply reply) {
        // Unread, the panel stays empty.
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            return;
        }
        const QStringList &row = read.record;
        // N, MN, INAME, MEMO1, MEMO2, MEMO3, SX, SY, DATE1, DATE2
        Edit2->setText(row.value(2));
        Edit3->setText(row.value(3));
        Edit4->setText(row.value(4));
        Edit5->setText(row.value(5));
        LabelB->setText(SizeCaption + row.value(6) + QStringLiteral("×") + row.value(7));
        LabelC->setText(DateCaption + row.value(8) + QChar(0x3000) + row.value(9));
        if (read.author > 0)
            LabelA->setText(AuthorCaption + read.authorName);
    });
}

void ImageList::Button7Click()
{
    const int n = TextToInt(GridCell(SG1, 0, GridCurrentRow(SG1)));
    if (n <= 0)
        return;
    EditMode = 1;
    CurrentImageNo = n;
    try {
        auto *editor = new ImageRecordEditor;
        editor->setWindowTitle(QStringLiteral("画像一覧データ編集"));
        MainWindowLink()->AddChild(editor);
    } catch (...) {
    }
}

void ImageList::Button8Click()
{
    const int r = GridCurrentRow(SG1);
    const int n = TextToInt(GridCell(SG1, 0, r));
    if (n <= 0)
        return;
    CurrentImageNo = n;
    CurrentImageWidth = TextToInt(GridCell(SG1, 3, r));
    CurrentImageHeight = TextToInt(GridCell(SG1, 4, r));
    try {
        auto *w = new PaintWindow;
        w->setWindowTitle(QStringLiteral("お絵描きソフト － ") + GridCell(SG1, 1, r) + QStringLiteral("(N:")
                          + QString::number(n) + QLatin1Char(')'));
        MainWindowLink()->AddChild(w);
    } catch (...) {
    }
}

void ImageList::Button9Click()
{
    const int r = GridCurrentRow(SG1);
    const int n = TextToInt(GridCell(SG1, 0, r));
    if (n <= 0)
        return;
    const QString subject = QStringLiteral("画像データ「") + GridCell(SG1, 1, r) + QStringLiteral("」(N:")
                            + QString::number(n) + QLatin1Char(')');
    Ask<TableState>(ImageTableState(n), [this, n, subject](TableState state, DbReply reply) {
        if (reply.lost || state == TableState::Unreadable) {
            ReportUnreadable();
            return;
        }
        if (state == TableState::Missing) {
            ShowMessage(subject + QStringLiteral("のテーブルデータは存在しません。"));
            return;
        }
        if (!ConfirmBox(subject + QStringLiteral("を削除します。よろしいですか？")))
            return;
        Ask<bool>(DropImageTable(n), [this, n, subject](bool dropped, DbReply reply) {
            const QString failed = subject + QStringLiteral("が削除出来ませんでした。");
            if (reply.lost) {
                ReportLostChange(failed);
                return;
            }
            if (dropped) {
                ShowMessage(subject + QStringLiteral("を削除しました。"));
                return;
            }
            // Held open elsewhere, most likely: whoever has it open is named.
            Ask<PresenceRoster>(ReadOpenPictures(), [failed, n](PresenceRoster roster, DbReply) {
                ShowMessage(WithHolders(failed, roster, n));
            });
        });
    });
}
