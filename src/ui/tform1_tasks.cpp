// The main window's region tasks: making them, the task list, Stop and the
// report window. The logic is in tasks/; this file only joins it to controls.
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <algorithm>

#include "fetch/request_tile.h"
#include "formats/calibration.h"
#include "formats/stitch_pieces.h"
#include "geo/projection.h"
#include "platform/time_text.h"
#include "tasks/cache_export.h"
#include "tasks/delayed_start.h"
#include "tasks/stitch_task.h"
#include "tasks/task_params.h"
#include "ui/tform1.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform6.h"
#include "ui/tokbottom_dlg.h"
#include "ui/windows.h"

namespace {

// A stitch whose calibration files could not name the image is not made.
bool CalibrationCanNameImage(QWidget* parent, const MainState& state, const QString& name) {
    const std::string problem =
        CalibrationNameProblem(name.toStdString(), state.WriteOziMap, state.WriteMapInfoTab);
    if (problem.empty()) return true;
    QMessageBox::warning(parent, QStringLiteral("Сохранение невозможно"),
                         QString::fromStdString(problem));
    return false;
}

}  // namespace

TForm6* TForm1::ReportWindow() {
    if (Windows::Instance() && Windows::Instance()->Form1 == this && Windows::Instance()->Form6)
        return Windows::Instance()->Form6;
    if (!OwnReportWindow) OwnReportWindow = new TForm6(this);
    return OwnReportWindow;
}

TForm3* TForm1::ProgressWindow() {
    if (Windows::Instance() && Windows::Instance()->Form1 == this && Windows::Instance()->Form3)
        return Windows::Instance()->Form3;
    if (!OwnProgressWindow) OwnProgressWindow = new TForm3(this);
    return OwnProgressWindow;
}

TForm2* TForm1::TimerDialog() {
    if (Windows::Instance() && Windows::Instance()->Form1 == this && Windows::Instance()->Form2)
        return Windows::Instance()->Form2;
    if (!OwnTimerDialog) OwnTimerDialog = new TForm2(this, &S);
    return OwnTimerDialog;
}

TOKBottomDlg* TForm1::ParamsDialog() {
    if (Windows::Instance() && Windows::Instance()->Form1 == this &&
        Windows::Instance()->OKBottomDlg)
        return Windows::Instance()->OKBottomDlg;
    if (!OwnParamsDialog) OwnParamsDialog = new TOKBottomDlg(this);
    return OwnParamsDialog;
}

void TForm1::SpeedButton2Click(int preselectKind) {
    if (!S.HasSelection) return;
    TaskParamsResult result;
    TOKBottomDlg* dialog = ParamsDialog();
    dialog->Region = ShapeCounts;
    if (!dialog->Run(S, ComboBox2->currentIndex(), preselectKind, result)) return;
    // A corner edited in the dialog made the region a rectangle again.
    if (!dialog->Region) SetRegionShape(nullptr);
    // The corners come back ordered and clamped; the frame follows them.
    S.SelLat1 = result.Corners.Lat1;
    S.SelLon1 = result.Corners.Lon1;
    S.SelLat2 = result.Corners.Lat2;
    S.SelLon2 = result.Corners.Lon2;
    ComboBox2->setCurrentIndex(result.ZoomIndex);
    RefreshView();
    switch (result.Kind) {
        case TaskKind::Stitch:
            StitchSelection(result.Pieces, result.Size.Width, result.Size.Height, result.PieceWidth,
                            result.PieceHeight, result.AddCoordinates, result.WriteWorldFile);
            break;
        case TaskKind::Download:
            StartDownloadTask(result.ZoomToIndex + 1);
            break;
        case TaskKind::Export:
            ExportCache(result);
            break;
    }
}

void TForm1::StartDownloadTask(int zoomTo) {
    TaskRequest request;
    request.IsStitch = false;
    request.ZoomTo = zoomTo;
    MakeTask(request);
}

std::shared_ptr<stichtype> TForm1::MakeTask(TaskRequest request, bool switchTimer,
                                            const std::function<bool(TaskRequest&)>& complete) {
    // The delayed start: shown before every task when asked for; its hours
    // and minutes count also when it was not shown this time.
    DelayedStart start;
    if (S.ShowTimerDialog) {
        if (!TimerDialog()->Exec(start)) return nullptr;
    } else {
        start = TimerDialog()->Values(false);
    }
    if (!S.HasSelection) return nullptr;
    if (complete && !complete(request)) return nullptr;
    request.DelayHours = start.Hours;
    request.DelayMinutes = start.Minutes;
    request.DialUp = start.DialUp;
    request.HangUp = start.HangUp;
    request.DialEntry = start.DialEntry;
    request.DialUser = start.DialUser;
    request.DialPassword = start.DialPassword;
    EnableControls(false);
    std::shared_ptr<stichtype> task;
    try {
        request.Zoom = ComboBox2->currentIndex() + 1;
        request.Shape = CurrentShape();
        request.Quality = QualityPercent(ComboBox3->currentIndex());
        task = NewTask(S, request);
        ComboBox4->blockSignals(true);
        ComboBox4->insertItem(
            0, QString::fromStdString(NewTaskEntryText(*task, Label15->text().toStdString())));
        TaskEntries.insert(TaskEntries.begin(), task);
        ComboBox4->setCurrentIndex(ComboBox4->count() - 1);
        ComboBox4->blockSignals(false);
        SpeedButton3->setEnabled(true);
        Panel4->show();
        SizeTaskPanel(true);
        std::string error, failedFile;
        const TaskBuild built = BuildTask(S, *task, request, failedFile, error);
        if (built == TaskBuild::FileNotWritten) {
            QMessageBox::warning(
                this, QStringLiteral("Сохранение невозможно"),
                QStringLiteral("Запись файла %1 невозможна: %2")
                    .arg(QString::fromStdString(failedFile), QString::fromStdString(error)));
            task.reset();
        } else if (built == TaskBuild::ListRefused) {
            QMessageBox::warning(this, windowTitle(), QString::fromStdString(error));
            task.reset();
        } else {
            const bool alone = QueueTask(S, task);
            if (switchTimer && !Timer2->isActive()) Timer2->start();
            if (alone) {
                if (S.ShowLogAuto) ReportWindow()->ShowTaskLog(task);
                if (!task->Tiles.Empty() && !StartTaskWorker(S, task))
                    QMessageBox::warning(this, windowTitle(),
                                         QStringLiteral("Не удалось запустить поток"));
            }
        }
    } catch (const std::exception& e) {
        // The window must never stay disabled after a failed task.
        QMessageBox::warning(this, windowTitle(), QString::fromUtf8(e.what()));
        task.reset();
    }
    if (!task) Timer2Timer();  // the entry of a task that was not made goes again
    EnableControls(true);
    return task;
}

QString TForm1::AskStitchFileName() {
    if (StitchFileChooser) return StitchFileChooser();
    if (!SDialog) {
        SDialog = new QFileDialog(this);
        SDialog->setObjectName("SDialog");
        SDialog->setAcceptMode(QFileDialog::AcceptSave);
        SDialog->setNameFilters(
            {QStringLiteral("JPEG Image File (*.jpg)"), QStringLiteral("GeoTIFF (*.tif)")});
        SDialog->setDefaultSuffix(QStringLiteral("jpg"));
        // A name typed without an extension gets the chosen format's.
        connect(SDialog, &QFileDialog::filterSelected, SDialog, [this](const QString& filter) {
            SDialog->setDefaultSuffix(filter.contains(QStringLiteral("*.tif"))
                                          ? QStringLiteral("tif")
                                          : QStringLiteral("jpg"));
        });
        SDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
        // The home folder, not whatever folder the program was started in.
        SDialog->setDirectory(QDir::homePath());
    }
    if (SDialog->exec() != QDialog::Accepted || SDialog->selectedFiles().isEmpty()) return {};
    return SDialog->selectedFiles().constFirst();
}

std::shared_ptr<stichtype> TForm1::StartStitchTask(const QString& outputName, bool addCoordinates,
                                                   bool keepTimer, bool worldFile) {
    if (!S.HasSelection) return nullptr;
    TaskRequest request;
    request.IsStitch = true;
    request.WorldFile = worldFile;
    // The file is asked for after the delayed-start dialog.
    return MakeTask(request, !keepTimer, [&](TaskRequest& r) {
        const QString name = outputName.isEmpty() ? AskStitchFileName() : outputName;
        if (name.isEmpty() || !CalibrationCanNameImage(this, S, name)) return false;
        r.FileName = name.toStdString();
        if (addCoordinates) r.FileName = AddCoordinatesToName(r.FileName, S.SelLat1, S.SelLon1);
        return true;
    });
}

void TForm1::StitchSelection(bool cut, int width, int height, int pieceWidth, int pieceHeight,
                             bool addCoordinates, bool worldFile) {
    if (!cut) {
        StartStitchTask(QString(), addCoordinates, false, worldFile);
        return;
    }
    const QString base = AskStitchFileName();
    if (base.isEmpty() || !CalibrationCanNameImage(this, S, base)) return;
    const double lat1 = S.SelLat1, lon1 = S.SelLon1, lat2 = S.SelLat2, lon2 = S.SelLon2;
    // Every piece's own corners; the name gets them added by the task maker.
    const auto pieces = CutIntoPieces(base.toStdString(), ComboBox2->currentIndex() + 1, lat1, lon1,
                                      width, height, pieceWidth, pieceHeight, false);
    for (const StitchPiece& piece : pieces) {
        S.SelLat1 = piece.Lat1;
        S.SelLon1 = piece.Lon1;
        S.SelLat2 = piece.Lat2;
        S.SelLon2 = piece.Lon2;
        StartStitchTask(QString::fromStdString(piece.FileName), addCoordinates, true, worldFile);
    }
    S.SelLat1 = lat1;
    S.SelLon1 = lon1;
    S.SelLat2 = lat2;
    S.SelLon2 = lon2;
    if (!Timer2->isActive()) Timer2->start();
}

void TForm1::ExportCache(const QString& folder, bool withTabs) {
    TaskParamsResult choice;
    choice.ZoomIndex = ComboBox2->currentIndex();
    choice.ExportFolder = folder.toStdString();
    choice.ExportMapInfo = withTabs;
    ExportCache(choice);
}

void TForm1::ExportCache(const TaskParamsResult& choice) {
    if (!S.HasSelection) return;
    CacheExportRequest request = SelectionExportRequest(S, ComboBox2->currentIndex() + 1,
                                                        choice.ExportFolder, choice.ExportMapInfo);
    request.ZoomTo = choice.ZoomToIndex + 1;
    request.Target = choice.Target;
    request.File = choice.ExportFile;
    EnableControls(false);
    QProgressDialog progress(QStringLiteral("Экспорт кэша..."), QStringLiteral("Отмена"), 0, 100,
                             this);
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    const CacheExportResult result = ::ExportCache(request, [&](int64_t passed, int64_t total) {
        progress.setValue(total > 0 ? static_cast<int>(100 * passed / total) : 0);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    EnableControls(true);
    if (request.Target == ExportTarget::Folder) return;
    // A file export never ends with holes unmentioned.
    if (!result.Error.empty()) {
        QMessageBox::warning(this, QStringLiteral("Сохранение невозможно"),
                             QString::fromStdString(result.Error));
    } else if (!result.Missing.empty() && !result.Cancelled) {
        QStringList names;
        for (std::size_t i = 0; i < result.Missing.size() && i < 20; ++i)
            names << QString::fromStdString(result.Missing[i]);
        if (result.Missing.size() > 20) names << QStringLiteral("...");
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Записано фрагментов: %1 из %2. Нет в кэше: %3\n%4")
                                 .arg(result.Copied)
                                 .arg(result.Total)
                                 .arg(result.Missing.size())
                                 .arg(names.join(QLatin1Char('\n'))));
    }
}

void TForm1::Timer2Timer() {
    const int selected = ComboBox4->currentIndex();
    const auto tasks = S.TaskList.Snapshot();
    TForm6* report = ReportWindow();
    ComboBox4->blockSignals(true);
    ComboBox4->clear();
    TaskEntries.assign(tasks.begin(), tasks.end());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        ComboBox4->addItem(QString::fromStdString(TaskEntryText(*tasks[i])));
        if (static_cast<int>(i) == selected && tasks[i]->LogShown && report->isVisible())
            report->Reload(tasks[i]);
    }
    ComboBox4->setCurrentIndex(
        selected >= 0 && selected < ComboBox4->count() ? selected : ComboBox4->count() - 1);
    ComboBox4->blockSignals(false);
    if (tasks.empty()) {
        SpeedButton3->setEnabled(false);
        if (!ToolButton8->isChecked()) {
            TBToolWindow3->hide();
            S.HasSelection = false;
            SetPanelText(2, QStringLiteral(" "));
            ComboBox2Change();  // no stale size, no "Выполнить" without a selection
        }
        Panel4->hide();
        SizeTaskPanel(false);
    }
    StartNextTask(S);
    UpdateTaskProgress();
}

std::shared_ptr<stichtype> TForm1::EntryTask(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= TaskEntries.size()) return nullptr;
    return ListedTask(S, TaskEntries[static_cast<std::size_t>(index)]);
}

void TForm1::SpeedButton3Click() {
    // The task the entry shows, not whatever holds its place in the list now.
    const auto task = StopTask(S, EntryTask(ComboBox4->currentIndex()));
    if (task && task->LogShown && ReportWindow()->isVisible()) ReportWindow()->Reload(task);
}

void TForm1::ComboBox4Select() {
    const auto task = EntryTask(ComboBox4->currentIndex());
    if (!task) return;
    ReportWindow()->ShowTaskLog(task);
    UpdateTaskProgress();
}

void TForm1::TaskLogLineAdded(const std::shared_ptr<stichtype>& task, std::size_t index) {
    ReportWindow()->LineAdded(task, index);
}

void TForm1::SizeTaskPanel(bool withTasks) {
    // Docked, the panel keeps its designed width instead of spanning the
    // window's edge, or what its controls need in this font, so no caption
    // is cut.
    if (TBToolWindow3->isFloating()) {
        TBToolWindow3->setMinimumWidth(0);
        TBToolWindow3->setMaximumWidth(QWIDGETSIZE_MAX);
        TBToolWindow3->resize(TBToolWindow3->width(),
                              std::max(withTasks ? 98 : 47, TBToolWindow3->sizeHint().height()));
    } else {
        const int designed = withTasks ? 723 : 363;
        if (QLayout* layout = TBToolWindow3->widget()->layout()) layout->activate();
        TBToolWindow3->setFixedWidth(
            std::max(designed, TBToolWindow3->widget()->sizeHint().width()));
    }
}

void TForm1::UpdateTaskProgress() {
    const auto selected = EntryTask(ComboBox4->currentIndex());
    if (selected) {
        const TaskProgress p = ProgressOf(*selected);
        TaskProgressBar->setValue(p.Percent);
        TaskProgressBar->setToolTip(QString::fromStdString(ProgressToolTip(p)));
    } else {
        TaskProgressBar->setValue(0);
        TaskProgressBar->setToolTip(QString());
    }
    int running = 0;
    for (const auto& task : S.TaskList.Snapshot())
        if (task->Started && !task->Stop) running = ProgressOf(*task).Percent;
    ProgressWindow()->ProgressBar1->setValue(running);
}

void TForm1::StopTasks(std::chrono::milliseconds grace) {
    StopAllTasks(S);
    if (WaitForTaskWorker(S, grace)) return;
    // A server trickling bytes would keep the worker past any patience.
    AbortRequests(true);
    WaitForTaskWorker(S, std::chrono::seconds(60));
    AbortRequests(false);
}

void TForm1::OpenTaskRecord() {
    const std::string path = S.ProgramFolder + TasksFileName;
    auto lock = std::make_unique<FolderLock>(path + ".lock");
    if (!lock->Held()) {
        // Another window runs on this folder and resumes its tasks itself.
        QTimer::singleShot(0, this, [this] {
            QMessageBox::information(
                this, windowTitle(),
                QStringLiteral("Программа уже запущена из этой папки: её задания продолжит "
                               "она, здесь список заданий не ведётся"));
        });
        return;
    }
    TaskRecordLock = std::move(lock);
    TaskRecordLoad load = LoadTaskRecord(S, path);
    if (!load.Message.empty())
        QTimer::singleShot(0, this, [this, message = QString::fromStdString(load.Message)] {
            QMessageBox::warning(this, windowTitle(), message);
        });
    QueueRestoredTasks(S, load.Tasks);
    TaskRecord = std::make_unique<TaskRecordKeeper>(path, [this] { return S.TaskList.Snapshot(); });
    S.TaskWatcher = TaskRecord.get();
    if (load.Tasks.empty()) return;
    ContinueButton->show();
    SpeedButton3->setEnabled(true);
    Panel4->show();
    SizeTaskPanel(true);
    S.TaskPanelVisible = true;
    Timer2Timer();
    Timer2->start();
}

void TForm1::CloseTaskRecord() {
    if (!TaskRecord) return;
    // Taken before the tasks are stopped for the close, so that they come
    // back as they were; written after, with the cursors where they stopped.
    const auto tasks = S.TaskList.Snapshot();
    S.TaskWatcher = nullptr;
    TaskRecord.reset();
    StopTasks(std::chrono::seconds(10));
    WriteFileAtomic(S.ProgramFolder + TasksFileName, TaskRecordText(tasks), true);
    TaskRecordLock.reset();
}

void TForm1::ContinueButtonClick() {
    ContinueTasks(S);
    ContinueButton->hide();
    Timer2Timer();
}

void TForm1::RetryFailedClick() {
    const auto task = EntryTask(ComboBox4->currentIndex());
    const auto retry = task ? RetryFailedTask(S, *task) : nullptr;
    if (!retry) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("Неудачных фрагментов нет"));
        return;
    }
    const bool alone = QueueTask(S, retry);
    if (!Timer2->isActive()) Timer2->start();
    if (alone) StartTaskWorker(S, retry);
    Timer2Timer();
}
