#include <QMessageBox>
#include <QToolTip>
#include <algorithm>

#include "core/app_core.h"
#include "core/settings_file.h"
#include "ui/icons.h"
#include "ui/tform1.h"
#include "ui/tform5.h"
#include "ui/windows.h"

namespace {
const char* const ModeHints[3] = {"Только кэш", "Только интернет", "Кэш и интернет"};
}

void TForm1::UpdateModeButton() {
    int image = std::clamp(S.ModeButtonImage, 0, 2);
    ToolButton2->setIcon(ModeIcon(image));
    ToolButton2->setToolTip(QString::fromUtf8(ModeHints[image]));
}

void TForm1::ToolButton2Click() {
    // Applies to the next tile lookups; no redraw, and the file gets it with
    // the next save.
    SetWorkMode(S, NextWorkMode(S));
    UpdateModeButton();
    QToolTip::showText(ToolButton2->mapToGlobal(QPoint(0, ToolButton2->height())),
                       ToolButton2->toolTip(), ToolButton2);
}

TForm5* TForm1::SettingsDialog() {
    if (Windows* w = Windows::Instance(); w && w->Form1 == this && w->Form5) return w->Form5;
    if (!OwnSettingsDialog) OwnSettingsDialog = new TForm5(this);
    return OwnSettingsDialog;
}

void TForm1::ToolButton6Click() {
    TForm5* form = SettingsDialog();
    form->LoadFromState(S);
    FollowSettings(S, Sources);
    form->ShowSources(&Sources, S.ProgramFolder);
    // Cancel keeps the state; only the archive list and the source list
    // files may have changed.
    const bool accepted = form->exec() == QDialog::Accepted;
    if (accepted) form->ApplyToState(S);
    FollowSettings(S, Sources);
    FillSourceBox();
    if (!accepted) return;

    UpdateModeButton();
    LoadArchiveList(S);
    MakeCacheFolder(S);
    RefreshView();
    WriteSettingsFile();
}
