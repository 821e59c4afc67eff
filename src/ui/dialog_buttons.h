#pragma once
class QDialog;
class QHBoxLayout;
class QPushButton;

// The "OK" (default) and "Cancel" buttons of the program's dialogs, right
// aligned in a row; Cancel rejects, OK is left for the caller to connect.
QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel);
