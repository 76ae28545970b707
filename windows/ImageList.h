#pragma once
// The image list: IMGLIST one page of 100 rows at a time, sorted and filtered,
// with a detail panel; opens records for editing and pictures for painting.

#include "forms/ChildForm.h"
#include "core/connection/MainDb.h"

#include <QSize>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableWidget;
class QWidget;

class ImageList : public ChildForm {
    Q_OBJECT
public:
    explicit ImageList(QWidget *parent = nullptr);

    // The lines of the page statement for a filter condition and an order.
    static QStringList PageStatement(const QString &filterCondition, const QString &sortOrder);
    // The ORDER BY text of a sort choice; empty for an index out of range.
    static QString SortOrderFor(int index);
    // The WHERE condition of a filter choice and text; the text is matched literally
    // except for the LIKE wildcards.
    static QString FilterConditionFor(int index, const QString &text);

    int pageSize() const { return PageSize; }
    int pageTop() const { return PageTop; }
    int nextPageTop() const { return NextPageTop; }
    QString filterCondition() const { return FilterCondition; }
    QString sortOrder() const { return SortOrder; }
    // The detail panel's height, kept while the window is minimised.
    int panelHeight() const;
    // The outer size and panel height that show every control, for a first opening.
    QSize sizeShowingEveryControl() const;
    int panelHeightShowingEveryControl() const;
    void setPanelHeight(int height);

    QWidget *Panel2 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button4 = nullptr;
    QPushButton *Button9 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QComboBox *ComboBox2 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QSplitter *Splitter1 = nullptr;
    QTableWidget *SG1 = nullptr;
    QWidget *Panel1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QLineEdit *Edit4 = nullptr;
    QLineEdit *Edit5 = nullptr;
    QPushButton *Button5 = nullptr;
    QPushButton *Button6 = nullptr;
    QPushButton *Button7 = nullptr;
    QPushButton *Button8 = nullptr;
    QLabel *LabelA = nullptr;
    QLabel *LabelB = nullptr;
    QLabel *LabelC = nullptr;

public slots:
    void FormShow() override;
    void FormClose() override;
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void ComboBox1Select();
    void ComboBox2Select();
    // ARow counts the header as row 0.
    void SG1SelectCell(int ACol, int ARow);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    void ClearGrid();
    // Reads the page from `top` on; only once it is read does the grid show it (and PageTop
    // become `top`): a page that could not be read leaves the grid as it was.
    void LoadPage(int top);
    // After a page is loaded: the highlighted row and the detail panel show one record.
    void showSelectedRecord();
    // Marks the pictures someone has open now (read on main-db, after the page).
    void readMarks();
    // The list's commands; the panel's height buttons stay usable meanwhile.
    template <class R>
    void Ask(DbRequest<R> request, std::function<void(R, DbReply)> answer);

    int PageSize = 100;
    int PageTop = 1;
    int NextPageTop = 0;
    QString FilterCondition;
    QString SortOrder = QStringLiteral("N");

    QSize normalSize_;
    int normalPanelHeight_ = 0;
    bool selectedOnPress_ = false;
};
