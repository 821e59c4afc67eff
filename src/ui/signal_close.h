#pragma once
class QWidget;

// SIGTERM and SIGINT close `window` the ordinary way (its close handler runs,
// settings are saved), as a desktop session's logout would.
void CloseOnTerminationSignals(QWidget* window);
