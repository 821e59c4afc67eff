#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include "core/app_core.h"
#include "platform/file_io.h"
#include "ui/tform1.h"
#include "view/navigation.h"

void TForm1::LoadSourceList() {
    Sources = LoadSources(S);
    UseSource(S, Sources, Sources.Active);
    FillSourceBox();
    if (const std::string problems = SourceProblemsText(Sources); !problems.empty()) {
        // Said once the window is there; the program goes on with the rest.
        QTimer::singleShot(0, this, [this, text = QString::fromStdString(problems)] {
            QMessageBox::warning(isVisible() ? this : nullptr, QStringLiteral("Источники карт"),
                                 text, QMessageBox::Ok);
        });
    }
    connect(SourceBox, &QComboBox::activated, this, [this](int index) { SourceBoxChange(index); });
    MapMenu = new QMenu(this);
    MapMenu->setObjectName("MapMenu");
    connect(MapMenu->addAction(QStringLiteral("Отметить как «нет снимка»")), &QAction::triggered,
            this, [this] { MarkNoImageryAt(MapMenuX, MapMenuY); });
}

void TForm1::FillSourceBox() {
    const QSignalBlocker quiet(SourceBox);
    SourceBox->clear();
    for (const MapSource& source : Sources.Sources)
        SourceBox->addItem(QString::fromStdString(source.Name),
                           QString::fromStdString(source.Attribution));
    SourceBox->setCurrentIndex(static_cast<int>(Sources.Active));
    // One source needs no choice; the box shows once there is another.
    SourceBox->setEnabled(Sources.Sources.size() > 1);
}

void TForm1::SourceBoxChange(int index) {
    if (index < 0 || static_cast<size_t>(index) == Sources.Active) return;
    // The settings file is about to hold the other source: the main
    // source's own address and cache must be kept in the list first.
    if (Sources.Active == 0) {
        if (const FileResult saved = SaveSources(Sources, S.ProgramFolder); !saved) {
            QMessageBox::warning(this, QStringLiteral("Источники карт"),
                                 QString::fromStdString(std::string(SourcesFileName) +
                                                        " не записан: " + saved.Error),
                                 QMessageBox::Ok);
            SourceBox->setCurrentIndex(static_cast<int>(Sources.Active));
            return;
        }
    }
    UseSource(S, Sources, static_cast<size_t>(index));
    SourceBox->setToolTip(SourceBox->itemData(index).toString().isEmpty()
                              ? QStringLiteral("Источник карты")
                              : SourceBox->itemData(index).toString());
    WriteSettingsFile();
    RefreshView();
}

void TForm1::ShowMapMenu(int x, int y) {
    MapMenuX = x;
    MapMenuY = y;
    MapMenu->popup(PaintBox1->mapToGlobal(QPoint(x, y)));
}

void TForm1::MarkNoImageryAt(int x, int y) {
    const std::string error = MarkNoImagery(S, Sources, TileFileUnder(S, x, y));
    if (!error.empty()) {
        QMessageBox::warning(this, QStringLiteral("Нет снимка"), QString::fromStdString(error),
                             QMessageBox::Ok);
        return;
    }
    RefreshView();
}
