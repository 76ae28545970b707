#include "windows/ImageRecordEditor.h"

#include "forms/FormUtil.h"
#include "forms/DbCommand.h"
#include "core/catalogue/ImageRequests.h"
#include "core/settings/SharedSettings.h"
#include "core/TextRoutines.h"
#include "forms/MessageBoxes.h"

#include <QDate>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int ClientWidth = 448;
constexpr int ClientHeight = 223;

const QString AuthorCaption = QStringLiteral("作成者：");

QString StoreFailedText()
{
    return QStringLiteral("画像一覧データが登録出来ませんでした");
}

// Limits only what is typed or pasted. QLineEdit's own maxLength would also cut a
// value set in code, and a record number of nine digits would then load, propose
// or overwrite another record.
class TypedLengthValidator : public QValidator {
public:
    TypedLengthValidator(int maxLength, QObject *parent) : QValidator(parent), max_(maxLength) {}
    State validate(QString &input, int &) const override
    {
        return input.size() <= max_ ? Acceptable : Invalid;
    }

private:
    int max_;
};

QLineEdit *makeBox(QWidget *parent, int x, int y, int w, int maxLength, bool imeOff)
{
    QLineEdit *e = MakeEdit(parent, x, y, w, 21);
    e->setValidator(new TypedLengthValidator(maxLength, e));
    // Qt reverts a refused edit only while the text before it was acceptable, so after
    // a longer value set in code an edit that does not shorten the text is undone here.
    // textEdited comes before textChanged, so "length" still holds the length before the edit.
    QObject::connect(e, &QLineEdit::textChanged, e, [e](const QString &text) { e->setProperty("length", int(text.size())); });
    QObject::connect(e, &QLineEdit::textEdited, e, [e, maxLength](const QString &text) {
        if (text.size() > maxLength && text.size() >= e->property("length").toInt() && e->isUndoAvailable()
            && !e->property("undoing").toBool()) {
            e->setProperty("undoing", true);
            e->undo();
            e->setProperty("undoing", false);
        }
    });
    if (imeOff)
        SetImeOff(e);
    return e;
}

} // namespace

ImageRecordEditor::ImageRecordEditor(QWidget *parent) : ChildForm(parent)
{
    setWindowTitle(QStringLiteral("画像一覧データ"));
    // Single fixed border: system menu and minimise box, no maximise box.
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);

    QWidget *c = client();
    c->setFixedSize(ClientWidth, ClientHeight);

    Panel1 = new QWidget(c);
    Panel1->setGeometry(8, 8, 433, 177);
    SetBackground(Panel1, QColor(0xEB, 0xEB, 0xEB));

    Label1 = MakeLabel(Panel1, QStringLiteral("番号"), 8, 8);
    Edit1 = makeBox(Panel1, 48, 4, 73, 8, true);
    Edit1->setFocusPolicy(Qt::ClickFocus);
    Button4 = MakeButton(Panel1, QStringLiteral("データ参照(&R)"), 128, 3, 113, 22);
    Label2 = MakeLabel(Panel1, AuthorCaption, 248, 8);
    Label2->setFixedWidth(433 - 248 - 4);

    Label4 = MakeLabel(Panel1, QStringLiteral("名前"), 8, 32);
    Edit2 = makeBox(Panel1, 48, 28, 345, 64, false);
    LimitCp932Bytes(Edit2, 64);
    Label7 = MakeLabel(Panel1, QStringLiteral("メモ"), 8, 56);
    Edit3 = makeBox(Panel1, 48, 52, 377, 80, false);
    Edit4 = makeBox(Panel1, 48, 76, 377, 80, false);
    Edit5 = makeBox(Panel1, 48, 100, 377, 80, false);
    for (QLineEdit *e : {Edit3, Edit4, Edit5})
        LimitCp932Bytes(e, 80);

    Label8 = MakeLabel(Panel1, QStringLiteral("画像"), 8, 132);
    Label9 = MakeLabel(Panel1, QStringLiteral("横サイズ"), 56, 132);
    Edit6 = makeBox(Panel1, 112, 128, 73, 4, true);
    Label10 = MakeLabel(Panel1, QStringLiteral("縦サイズ"), 200, 132);
    Edit7 = makeBox(Panel1, 256, 128, 73, 4, true);
    Label12 = MakeLabel(Panel1, QStringLiteral("作成日付"), 56, 156);
    Edit8 = makeBox(Panel1, 112, 152, 73, 8, true);
    Label13 = MakeLabel(Panel1, QStringLiteral("更新日付"), 200, 156);
    Edit9 = makeBox(Panel1, 256, 152, 73, 8, true);

    Button1 = MakeButton(c, QStringLiteral("登　録(&S)"), 8, 192, 105, 25);
    Button1->setDefault(true);
    Button2 = MakeButton(c, QStringLiteral("クリア(&C)"), 168, 192, 113, 25);
    Button3 = MakeButton(c, QStringLiteral("閉じる(&X)"), 336, 192, 105, 25);

    SetTabChain({Button4, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9, Button1, Button2, Button3});

    connect(Button1, &QPushButton::clicked, this, &ImageRecordEditor::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &ImageRecordEditor::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &ImageRecordEditor::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &ImageRecordEditor::Button4Click);

    // A child window has no dialog default or cancel button: Enter and Esc are routed by hand.
    for (QLineEdit *e : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9})
        e->installEventFilter(this);
    for (QPushButton *b : {Button1, Button2, Button3, Button4})
        b->installEventFilter(this);

}

void ImageRecordEditor::showEvent(QShowEvent *e)
{
    // The frame is known only once the window sits in the main window's area.
    if (!sized_) {
        sized_ = true;
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        if (QLayout *l = layout())
            l->activate();
        resize(sizeHint().expandedTo(minimumSizeHint()));
        setFixedSize(size());
    }
    ChildForm::showEvent(e);
}

bool ImageRecordEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // A focused button answers Enter itself; every box presses the default button.
            if (auto *b = qobject_cast<QPushButton *>(watched))
                b->click();
            else
                Button1Click();
            return true;
        }
        if (key == Qt::Key_Escape) {
            Button3Click();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == Edit1) {
            Edit1DblClick();
            return true;
        }
        if (watched == Edit8 || watched == Edit9) {
            Edit8DblClick(watched);
            return true;
        }
    }
    return ChildForm::eventFilter(watched, event);
}

template <class R>
void ImageRecordEditor::Ask(DbRequest<R> request, std::function<void(R, DbReply)> answer)
{
    AskDb<R>(this, std::move(request), std::move(answer), {Button3});
}

void ImageRecordEditor::ProposeNextNumber()
{
    Ask<HighestRead>(ReadHighestImageNumber(), [this](HighestRead read, DbReply reply) {
        // Unread, the box keeps what it had: a guess could be a number already taken.
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            return;
        }
        // After 2147483647 this proposes 2147483648, which registration then refuses.
        Edit1->setText(QString::number(qint64(TextToInt(read.max)) + 1));
    });
}

void ImageRecordEditor::FormShow()
{
    OpenMode = EditMode;
    OpenImageNo = CurrentImageNo;
    Edit1->clear();
    Label2->setText(AuthorCaption + PcUserName);
    if (OpenMode == 0) {
        Edit2->setFocus();
        ProposeNextNumber();
        return;
    }
    Edit1->setFocus();
    if (OpenImageNo > 0) {
        Edit1->setText(QString::number(OpenImageNo));
        Button4Click();
    }
}

void ImageRecordEditor::FormClose() {}

void ImageRecordEditor::Edit1DblClick()
{
    ProposeNextNumber();
}

void ImageRecordEditor::Edit8DblClick(QObject *Sender)
{
    auto *box = qobject_cast<QLineEdit *>(Sender);
    if (box != Edit8 && box != Edit9)
        return;
    box->setText(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
}

void ImageRecordEditor::Button4Click()
{
    const int n = TextToInt(Edit1->text());
    if (n <= 0) {
        Edit1->clear();
        Edit1->setFocus();
        return;
    }
    Ask<RecordRead>(ReadImageRecordWithAuthor(n), [this](RecordRead read, DbReply reply) {
        if (reply.lost || !read.ok) {
            ReportUnreadable();
            return;
        }
        QLineEdit *boxes[] = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9};
        const int columnOf[] = {0, 2, 3, 4, 5, 6, 7, 8, 9};
        for (int i = 0; i < 9; ++i)
            boxes[i]->setText(read.record.value(columnOf[i]));
        if (read.author > 0)
            Label2->setText(AuthorCaption + read.authorName);
        Edit2->setFocus();
    });
}

void ImageRecordEditor::Button1Click()
{
    const int n = TextToInt(Edit1->text());
    if (n <= 0) {
        Edit1->clear();
        Edit1->setFocus();
        return;
    }
    Ask<RecordLookup>(LookUpImageRecord(n, OpenMode == 0), [this, n](RecordLookup lookup, DbReply reply) {
        // The check before the write: for the user it is the 登録 that failed.
        if (reply.lost) {
            ReportLostChange(StoreFailedText());
            return;
        }
        if (OpenMode == 0 && lookup.found) {
            Refuse(Edit1, QStringLiteral("指定した番号は既に存在します。再入力して下さい。"));
            return;
        }
        if (OpenMode != 0 && !lookup.found) {
            Refuse(Edit1, QStringLiteral("指定した番号は存在しません。再入力して下さい。"));
            return;
        }
        Store(n, OpenMode == 0 ? PcUserNo : lookup.author);
    });
}

void ImageRecordEditor::Store(int n, int author)
{
    const QString name = Edit2->text();
    if (IsBlank(name)) {
        Refuse(Edit2, QStringLiteral("プロジェクト名を入力して下さい。"));
        return;
    }
    if (HasQuote(name) || name.contains(QLatin1Char(':'))) {
        Refuse(Edit2, QStringLiteral("プロジェクト名に引用符「'」「\"」「:」を入力しないで下さい"));
        return;
    }
    const QString sizeMessage = QStringLiteral("画像の横サイズは8～2000の範囲内で入力して下さい。");
    const int w = TextToInt(Edit6->text());
    if (w < 8 || w > 2000) {
        Refuse(Edit6, sizeMessage);
        return;
    }
    const int h = TextToInt(Edit7->text());
    if (h < 8 || h > 2000) {
        Refuse(Edit7, sizeMessage);
        return;
    }
    const QString date1 = Edit8->text();
    const QString date2 = Edit9->text();
    const QString dateMessage =
        QStringLiteral("日付は yyyymmdd形式（例：20100101）で有効な内容を入力して下さい。");
    if (!date1.isEmpty() && !IsValidDateText(date1)) {
        Refuse(Edit8, dateMessage);
        return;
    }
    if (!date2.isEmpty() && !IsValidDateText(date2)) {
        Refuse(Edit9, dateMessage);
        return;
    }
    if (date1.isEmpty() && !date2.isEmpty()) {
        Refuse(Edit8, QStringLiteral("更新日付が指定されているのに作成日付が指定されていません"));
        return;
    }
    if (!date1.isEmpty() && !date2.isEmpty() && date1 > date2) {
        Refuse(Edit8, QStringLiteral("作成日付の方が後の日付になっています"));
        return;
    }
    const QStringList texts{name, Edit3->text(), Edit4->text(), Edit5->text(), date1, date2};
    for (const QString &t : texts) {
        if (HasQuote(t)) {
            Refuse(Edit2, QuoteMessage());
            return;
        }
    }

    const QStringList values{QString::number(n), QString::number(author), TextValue(name),
                             TextValue(Edit3->text()), TextValue(Edit4->text()), TextValue(Edit5->text()),
                             QString::number(w), QString::number(h), TextValue(date1), TextValue(date2)};
    Ask<bool>(StoreImageRecord(OpenMode == 0, n, values), [](bool ok, DbReply reply) {
        const QString failed = StoreFailedText();
        // Whether it was stored is unknown: the connection went with the answer.
        if (reply.lost) {
            ReportLostChange(failed);
            return;
        }
        ShowMessage(ok ? QStringLiteral("画像一覧データを登録しました") : failed);
    });
}

void ImageRecordEditor::Button2Click()
{
    for (QLineEdit *e : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9})
        e->clear();
    Label2->setText(AuthorCaption + PcUserName);
}

void ImageRecordEditor::Button3Click()
{
    close();
}
