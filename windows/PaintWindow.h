#pragma once
// The painting window: one picture, drawn with the mouse, stored point by point.

#include "core/picture/PictureReplay.h"
#include "core/painting/StrokeStore.h"
#include "forms/ChildForm.h"
#include "windows/ImageControl.h"

#include <QElapsedTimer>
#include <QImage>
#include <QVector>
#include <deque>

class ElidedLabel;
class HistoryBar;
class QLabel;
class QScrollArea;
class QStatusBar;
class QTimer;
class QToolButton;
class PaintWorker;
class PresencePanel;
class QWidget;

class PaintWindow : public ChildForm {
    Q_OBJECT
public:
    explicit PaintWindow(QWidget *parent = nullptr);
    ~PaintWindow() override;

    // The session ends while the button is down: the stroke on the screen is stored as if
    // released (closing the window otherwise drops a stroke in progress).
    void KeepStrokeInProgress();

    QString TableName;
    int ImageWidth = 0;
    int ImageHeight = 0;
    int CurPenType = 0;
    int CurPenSize = 1;
    int CurPenColor = 0;
    int DrawMode = 0;
    bool Drawing = false;
    int LastX = 0;
    int LastY = 0;
    QVector<int> PointX;
    QVector<int> PointY;
    int PointCount = 0;
    int ReadCount = 0;
    int ImageNo = 0;

    // The picture; Image1 shows it.
    QImage Bitmap;

    QStatusBar *StatusBar1 = nullptr;
    QWidget *Panel1 = nullptr;
    QToolButton *SpeedButton1 = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QToolButton *SpeedButton3 = nullptr;
    QToolButton *SpeedButton4 = nullptr;
    // The picture's history: the button under the pen shows it in History, under the canvas.
    QToolButton *HistoryButton = nullptr;
    HistoryBar *History = nullptr;
    QScrollArea *ScrollBox1 = nullptr;
    TImageControl *Image1 = nullptr;
    QTimer *Timer1 = nullptr;
    // Above the picture: who has it open now, on any PC, and who is drawing.
    PresencePanel *PresenceStrip = nullptr;

    // "Who drew this?": the author and the stroke number (DN) of the topmost stored stroke
    // at (x, y) of the picture, as Image1 shows it with Ctrl held over the picture.
    QString AuthorAt(int x, int y);

    // Initial folder of the save dialog, taken from SaveDir on opening.
    QString SaveDialogDir;

    // Tests only: the window's number at the worker.
    int Session() const { return session_; }
    // Tests only: the database side, on the worker thread; read it after WaitIdle().
    StrokeStore *Store() const;
    // Tests only: waits (events processed) until the worker has done all it was asked
    // and this window has drawn what came back; false when `ms` pass first.
    bool WaitIdle(int ms = 20000);

    void DrawPoint(int type, int size, int color, int x, int y);

    // Points drawn here that the database has not taken yet.
    int UnstoredPoints() const;
    // Of those, the points that no journal holds either (it could not be written).
    int UnjournaledPoints() const;
    // "Unstored points are not safe on disk", with the reason when there is one.
    static QString UnsafeText(const QString &why);
    // Stores the unstored points now if the connection is there, then draws what
    // others stored; as the refresh does, but at once.
    void StoreKeptPoints();
    // What the status bar says about the connection: empty while it is there.
    QString ConnectionStatusText() const;
    // Why its points are not safe on disk or cannot be stored: empty when neither holds.
    QString NoticeText() const;
    // The stored picture has been read in full since the window opened (what is drawn
    // may still lag a few milliseconds behind).
    bool PictureLoaded() const { return loaded_; }

public slots:
    void FormShow() override;
    void FormClose() override;
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    // Shows the history, or goes back to the live picture; drawing is off while it shows.
    void HistoryButtonClick();
    void Image1MouseDown(Qt::MouseButton button, Qt::MouseButtons shift, int x, int y);
    void Image1MouseMove(Qt::MouseButtons shift, int x, int y);
    void Image1MouseUp(Qt::MouseButton button, Qt::MouseButtons shift, int x, int y);
    void Timer1Timer();

protected:
    // Asks before unstored points are let go; the user may keep the window open.
    void closeEvent(QCloseEvent *e) override;
    // The save dialog: the chosen file name, empty when cancelled.
    virtual QString ExecuteSaveDialog();
    // The colour chooser preset with `color`; false when cancelled.
    virtual bool ExecuteColorDialog(int &color);

private:
    void storeStroke();
    // Hands the points drawn since the last block to the worker; `last`: the stroke ends.
    void sendBlock(bool last);
    void sendTimerTimer();
    // The status bar's word on a lost connection and the points that wait for it.
    void showConnection();
    // The caption as the opener set it, with a mark while points wait too long.
    void showUnstoredMark();
    void connectWorker();
    void leaveHistory();
    // Draws the rows that came back, a few milliseconds at a time.
    void drawSome();
    // Presence: the strip follows the database's presence reads and the rows that arrive.
    void connectPresence();
    void showPresence();
    void showAuthor(int x, int y);
    // The own stroke that points drawn now belong to: the tag it is stored under, which
    // its rows bring back (its first block, or storeStroke at mouse-up, takes it).
    quint64 drawingTag() const { return liveTag_ != 0 ? liveTag_ : nextTag_; }

    QString caption_;
    bool closing_ = false;
    PaintWorker *worker_ = nullptr;
    int session_ = 0;
    // The database the picture was opened in: its strokes belong there.
    QString database_;
    struct Sent {
        quint64 tag = 0;
        PenTip pen;
        std::vector<QPoint> points;
        qint64 atMs = 0;
        bool journaled = false;
    };
    std::deque<Sent> unstored_; // handed to the worker, not yet stored, oldest first
    quint64 nextTag_ = 1;
    // The stroke under the mouse is handed over a slice every PaintWorker::SliceMs while it
    // is drawn, whatever the worker does with the slices before.
    QTimer *sendTimer_ = nullptr;
    quint64 liveTag_ = 0;   // the stroke under the mouse, once its first slice went; 0 before
    int sentPoints_ = 0;    // of PointX/PointY, those handed to the worker
    // While the button is held, every mouse move Qt reports is a point: Qt's merging of moves
    // that queue up is off, and this is what it was before.
    void holdEveryMove(bool on);
    bool compressedBefore_ = false;
    bool holdingMoves_ = false;
    QElapsedTimer clock_;
    QTimer *markTimer_ = nullptr;
    ElidedLabel *connectionState_ = nullptr;
    ElidedLabel *notice_ = nullptr;
    QString failureTold_; // a lasting failure to store, as the status bar tells it
    void showNotice();
    bool loaded_ = false;
    // The bitmap as the table's replay with the own unstored points on top.
    PictureReplay picture_{Bitmap};
    std::deque<StrokeRow> toDraw_;
    bool drawScheduled_ = false;
    bool told_ = false;
    QString journalTold_; // the journal failure the status bar tells; empty: none
    int user_ = 0;             // the PC user the window was opened for
    QPoint authorAsked_{-1, -1}; // where "who drew this?" was last asked
};
