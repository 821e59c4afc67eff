#pragma once
#include <QComboBox>
#include <QDockWidget>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/map_sources.h"
#include "core/settings_file.h"
#include "tasks/task_params.h"
#include "tasks/task_store.h"
#include "tasks/tasks.h"

class TForm1;
struct RegionShape;
class PolygonDraft;
class ShapeTileCounts;
class CoverageWorker;
struct CoverageGrid;

// The map area's paint box: it only delegates to the main window.
class MapBox : public QWidget {
    Q_OBJECT
  public:
    explicit MapBox(TForm1* owner, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    TForm1* Owner;
};

// Queued calls from any thread onto the main window's thread.
class GuiSink : public QObject, public UiSink {
    Q_OBJECT
  public:
    explicit GuiSink(TForm1* form);
    void SetTrafficText(const std::string& text) override;
    void RequestRepaint() override;
    void ShowErrorCounts() override;
    void TaskLogLine(const std::shared_ptr<stichtype>& task, std::size_t index) override;
    void ProcessMessages() override;
    void SetProgressStatus(const std::string& text) override;
    void ShowDialError(const std::string& text) override;

  private:
    TForm1* Form;
    // Workers count on every tile: one update waiting in the queue is enough.
    std::atomic<bool> CountsQueued{false};
};

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // `programFolder` ends with '/'; the settings and list files live there.
    explicit TForm1(const std::string& programFolder, QWidget* parent = nullptr);
    ~TForm1() override;

    MainState& State() { return S; }
    void EnableControls(bool on);
    // The text of status bar panel `index` (0..3).
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    // Panel 3 as wide as its text, never below its designed 100 pixels.
    void FitTrafficPanel();
    // Paints ViewBitmap centred on the map area.
    void PaintBox1Paint(QPainter& painter);
    // Copies the window's geometry and tool-window layout into the state,
    // as the settings file keeps them.
    void StoreLayout();
    // The message shown when the settings file cannot be written.
    static QString SettingsWriteFailedText();
    // Takes the window's layout into the state and writes "Vistrel2.ini";
    // a failure is shown and the program goes on.
    void WriteSettingsFile();

    // Controls, named as the program names them.
    QWidget* Panel1 = nullptr;
    MapBox* PaintBox1 = nullptr;
    QLabel* Image5 = nullptr;
    QLabel* StatusPanels[4] = {};
    QDockWidget* TBToolWindow1 = nullptr;
    QDockWidget* TBToolWindow2 = nullptr;
    QDockWidget* TBToolWindow3 = nullptr;
    QSlider* RxSlider1 = nullptr;
    QLabel* Label1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton5 = nullptr;
    QToolButton* ToolButton6 = nullptr;
    QToolButton* ToolButton8 = nullptr;
    // Search panel.
    QWidget *Panel2 = nullptr, *Panel3 = nullptr, *Panel6 = nullptr, *Panel5 = nullptr;
    QComboBox *SCB = nullptr, *DCB = nullptr, *FCB = nullptr, *ComboBox1 = nullptr;
    QLineEdit *Edit7 = nullptr, *Edit10 = nullptr;
    QPushButton *SpeedButton1 = nullptr, *ButtonSave = nullptr, *ButtonDel = nullptr;
    // Task panel.
    QWidget *Panel7 = nullptr, *Panel4 = nullptr;
    QComboBox *ComboBox2 = nullptr, *ComboBox3 = nullptr, *ComboBox4 = nullptr;
    QLabel* Label15 = nullptr;
    QPushButton *SpeedButton2 = nullptr, *SpeedButton3 = nullptr;
    // The selected task's progress, beside the task list.
    class QProgressBar* TaskProgressBar = nullptr;
    QTimer *Timer1 = nullptr, *Timer2 = nullptr, *Timer3 = nullptr;

    // ---- Map sources (tform1_sources.cpp)
    // The list of "Sources.json" and the source box in the tool bar.
    SourceList Sources;
    QToolBar* SourceToolBar = nullptr;
    QComboBox* SourceBox = nullptr;
    // Reads the list, takes the source the settings file names and fills the
    // box; bad entries are named in one message once the window shows.
    void LoadSourceList();
    void FillSourceBox();
    // The box's choice: SourceString and CachePath follow, the settings file
    // is written and the view recomposed.
    void SourceBoxChange(int index);
    // The map's menu (Ctrl + right button, or the menu key) for the tile under (x, y).
    class QMenu* MapMenu = nullptr;
    void ShowMapMenu(int x, int y);
    // "Отметить как «нет снимка»": the tile under (x, y) is what the source
    // sends where it has no imagery.
    void MarkNoImageryAt(int x, int y);
    int MapMenuX = 0, MapMenuY = 0;

    // ---- Map view, navigation, selection, search and favourites (tform1_view.cpp)
    // Recomposes the view; every change of centre, zoom, mode, size or
    // selection ends here.
    void RefreshView();
    // Called once from the constructor after the state is loaded: connects
    // the map area, the slider, the timers, the toolbar and the search panel.
    void SetUpView();
    // The map area's events; the map box's events are routed here.
    void PaintBox1MouseDown(Qt::MouseButton button, int x, int y);
    void PaintBox1MouseMove(int x, int y);
    void PaintBox1MouseUp(Qt::MouseButton button, int x, int y);
    void Panel1Resize();
    // Draws the map area: the view (shifted while dragged), then the frame.
    void PaintMapBox(QPainter& painter);
    // Wheel notches on the main window: toward the user zooms in.
    void FormMouseWheelDown();
    void FormMouseWheelUp();
    void RxSlider1Changed();
    void Timer1Timer();
    void Timer3Timer();
    void ToolButton3Click();
    void ToolButton5Click();
    void ToolButton8Click();
    // The selection's size estimate (also the change handler of ComboBox3/4).
    void ComboBox2Change();
    void ButtonFindClick();
    void ButtonSaveClick();
    void ButtonDelClick();
    void ComboBox1Select();
    // Selection mode: ToolButton8 is down.
    bool SelectionMode() const;
    // The message when "Favorites.dat" cannot be written.
    static QString FavoritesWriteFailedText();
    // Context menu over the selection.
    class QMenu* PMenu = nullptr;
    // The search panel's edits.
    std::shared_ptr<class CoordinateEditPair> SearchEdits;
    std::shared_ptr<class MapView> View;
    std::shared_ptr<class QObject> MapBoxEvents;
    int FramePhase = 0;
    int WheelRest = 0;  // parts of a notch from fine-grained wheels
    bool ViewComposedOnShow = false;
    bool ResizeQueued = false;
    // ---- end of map view section

    // ---- Region shapes (tform1_region.cpp)
    QToolButton* ToolButton9 = nullptr;   // polygon selection mode
    QToolButton* ToolButton10 = nullptr;  // "Открыть область..."
    QToolButton* ToolButton11 = nullptr;  // "Покрытие кэша"
    bool PolygonMode() const;
    // Either selection mode: the rectangle's or the polygon's.
    bool RegionMode() const { return SelectionMode() || PolygonMode(); }
    void ToolButton9Click();
    // "Открыть область...": the file dialog, then OpenRegionFile.
    void ToolButton10Click();
    // Reads a region file off the GUI thread (a progress dialog with
    // "Отмена" after a second), asks the corridor width when it has lines
    // and makes the shape the region of the tasks, shown and zoomed to. On
    // any failure a message names the file and nothing changes.
    bool OpenRegionFile(const QString& path);
    // The region tasks' shape; null while the region is the rectangle.
    const std::shared_ptr<const RegionShape>& CurrentShape() const { return Shape; }
    // The shape becomes the region: the corners take its box. Null goes
    // back to the rectangle of the corners.
    void SetRegionShape(std::shared_ptr<const RegionShape> shape);
    // The shape's tile count at a zoom, -1 without a shape.
    long long ShapeTiles(int zoom);
    // Polygon mode's mouse and keys; true when the event was taken.
    void PolygonMouseDown(Qt::MouseButton button, int x, int y);
    void PolygonDoubleClick();
    bool PaintBox1KeyDown(int key);
    void PolygonDraftCancel();
    bool DraftActive() const;
    // The shape and the polygon being drawn over the view; the overlay of
    // the cached tiles under them. The caller holds the canvas lock.
    void PaintRegion(QPainter& painter, int bitmapX, int bitmapY);
    // "Покрытие кэша": the overlay of the cached tiles of the task zoom.
    void ToolButton11Click();
    // Asks the coverage worker about the view as it is now.
    void RequestCoverage();
    void PaintCoverage(QPainter& painter, int bitmapX, int bitmapY);
    // The newest cells the worker sent (window tests).
    std::shared_ptr<const CoverageGrid> CoverageCells() const { return Coverage.Cells; }
    // Asked instead of the dialogs when set (window tests).
    std::function<QString()> RegionFileChooser;
    std::function<std::optional<double>()> CorridorWidthAsker;

  private:
    std::shared_ptr<const RegionShape> Shape;
    std::shared_ptr<ShapeTileCounts> ShapeCounts;
    std::shared_ptr<PolygonDraft> Draft;
    QString RegionFolder;
    struct {
        std::shared_ptr<CoverageWorker> Worker;
        std::shared_ptr<const CoverageGrid> Cells;
        QImage Image;  // a pixel per cell
    } Coverage;

  public:
    // ---- end of region shapes section

    // ---- Region tasks (tform1_tasks.cpp)
    // "Выполнить": the task parameters dialog, then the chosen task.
    // `preselectKind` a TaskKind, or -1 for the dialog's last choice.
    void SpeedButton2Click(int preselectKind = -1);
    // Makes a download task of the selection at the task zoom and queues it.
    // zoomTo above the task zoom: the tiles of every zoom up to it.
    void StartDownloadTask(int zoomTo = 0);
    // The common making of a task from the selection: the request's zoom and
    // quality come from the task panel. `switchTimer` false leaves Timer2 to
    // the caller (a piece of a series). The task, or none when none was made.
    // `complete`, when given, finishes the request after the delayed-start
    // dialog and the selection test (a stitch asks for its file there);
    // false makes nothing.
    std::shared_ptr<stichtype> MakeTask(TaskRequest request, bool switchTimer = true,
                                        const std::function<bool(TaskRequest&)>& complete = {});
    // Stitch: one image, or pieces of at most pieceWidth x pieceHeight of
    // the region of width x height pixels, each a task of its own.
    void StitchSelection(bool cut, int width, int height, int pieceWidth, int pieceHeight,
                         bool addCoordinates, bool worldFile = false);
    // Makes a stitch task: an empty outputName asks for one with SDialog.
    // `keepTimer` leaves Timer2 to the caller (a series of pieces).
    std::shared_ptr<stichtype> StartStitchTask(const QString& outputName, bool addCoordinates,
                                               bool keepTimer, bool worldFile = false);
    // Copies the selection's cached tiles at the task zoom into `folder`
    // (ending with '/'), with a ".tab" per tile when asked; a progress
    // dialog with "Отмена" keeps the window painting meanwhile.
    void ExportCache(const QString& folder, bool withTabs);
    // The export as the parameters dialog chose it: destination and zooms.
    void ExportCache(const TaskParamsResult& choice);
    // The save dialog of a stitch: the chosen path, or empty when cancelled.
    QString AskStitchFileName();
    // When set, asked instead of the save dialog (window tests: the file
    // dialog of the offscreen platform takes a name only when it has
    // finished reading its folder).
    std::function<QString()> StitchFileChooser;
    class QFileDialog* SDialog = nullptr;
    void Timer2Timer();
    void SpeedButton3Click();
    // "Продолжить": the tasks of the earlier run may start.
    QPushButton* ContinueButton = nullptr;
    void ContinueButtonClick();
    // The task list's menu: "Повторить неудачные" makes a task of the
    // selected task's failed tiles.
    class QMenu* TaskMenu = nullptr;
    void RetryFailedClick();
    // The record of the task list: read once at start-up (the tasks come back
    // waiting), kept while the window lives, written last at the close.
    void OpenTaskRecord();
    void CloseTaskRecord();
    void ComboBox4Select();
    // A worker wrote a line of a task's log (GUI thread).
    void TaskLogLineAdded(const std::shared_ptr<stichtype>& task, std::size_t index);
    // The task panel's size for the task list shown or hidden: docked width
    // 723 / 363, floating height 98 / 47.
    void SizeTaskPanel(bool withTasks);
    // The progress bar beside the task list and the progress window's bar.
    void UpdateTaskProgress();
    class TForm6* ReportWindow();
    class TForm2* TimerDialog();
    class TOKBottomDlg* ParamsDialog();
    class TForm3* ProgressWindow();
    // Asks every task to stop and waits a bounded time for the running one;
    // transfers still in flight are then cut short.
    void StopTasks(std::chrono::milliseconds grace);

private:
    // The task each entry of ComboBox4 shows, in the entries' order.
    std::vector<std::weak_ptr<stichtype>> TaskEntries;
    std::shared_ptr<stichtype> EntryTask(int index) const;
    class TForm6* OwnReportWindow = nullptr;
    class TForm2* OwnTimerDialog = nullptr;
    class TOKBottomDlg* OwnParamsDialog = nullptr;
    class TForm3* OwnProgressWindow = nullptr;

  public:
    // ---- end of tasks section

    // ---- Tool window layout (tform1_layout.cpp)
    // The two layouts of each tool window; the task panel's `wide` is its
    // one-row layout, docked at the top or bottom.
    void SetZoomWindowLayout(bool vertical);
    void SetSearchPanelLayout(bool vertical);
    void SetTaskPanelLayout(bool wide);
    void TBToolWindow1DockChanged();
    void TBToolWindow2DockChanged();
    void TBToolWindow2VisibleChanged();
    void TBToolWindow3DockChanged();
    void TBToolWindow3VisibleChanged();
    // Also run when the search panel moves.
    void TBToolWindow3Move();
    // A floating tool window inside the screen's available area, at its real size.
    void KeepOnScreen(QDockWidget* dock);
    bool LayoutEventFilter(QObject* watched, QEvent* event);
    // The main window inside the screen's available area, frame included.
    void KeepWindowOnScreen();

  private:
    // Repaint, then ViewBitmap the size of the map area and a new composition.
    void RecomposeAfterPanelChange();
    std::shared_ptr<QObject> LayoutEvents;
    bool LayoutSignalsConnected = false;
    bool ApplyingLayout = false;
    bool RecomposeQueued = false;
    bool WindowPlaced = false;
    bool PanelShown[2] = {true, true};  // search panel, task panel
    // Moved by the user since start-up: its dock row and position are then
    // taken from the window instead of kept as read.
    bool ToolWindowMoved[3] = {};

  public:
    // ---- end of layout section

    // ---- Settings dialog and mode button (tform1_settings.cpp)
    void ToolButton2Click();
    void ToolButton6Click();
    // Shows the work mode on the mode button: image and hint.
    void UpdateModeButton();
    // The program's settings dialog; a main window made without the other
    // windows gets one of its own.
    class TForm5* SettingsDialog();

  private:
    class TForm5* OwnSettingsDialog = nullptr;
    // ---- end of settings section

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void BuildWindow();
    void BuildZoomWindow();
    void BuildSearchPanel();
    void BuildTaskPanel();
    void ApplyLoadedLayout();
    void FormShow();
    void FormActivate();
    void FormClose();
    // Raises the newest view-fill worker's stop flag and waits for every
    // worker to leave; after `grace`, transfers in flight are cut short.
    void StopViewLoaders(std::chrono::milliseconds grace);

    MainState S;
    std::unique_ptr<GuiSink> Sink;
    std::unique_ptr<FolderLock> TaskRecordLock;
    std::unique_ptr<TaskRecordKeeper> TaskRecord;
    bool Closed = false;
};
