#pragma once

class QWidget;

// Screen readers, and every tool that drives a window through accessibility,
// know a control by its accessible name. Buttons that show only an icon and
// sliders have no text of their own: they are named by their hint, and the
// name follows the hint whenever it changes (the mode button's does).
void NameControlsByHints(QWidget* root);
