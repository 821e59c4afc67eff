#pragma once
#include <QDialog>
#include <QSpinBox>

#include "core/main_state.h"
#include "tasks/delayed_start.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// An up-down field whose number is changed only by its arrows.
class UpDownField : public QSpinBox {
    Q_OBJECT
  public:
    explicit UpDownField(QWidget* parent = nullptr);
};

// The timer and connection dialog ("Таймер"), shown before a download or
// stitch task is made when ShowTimerDialog is on. The ticks, the user name
// and the password stay from one showing to the next; nothing is saved.
class TForm2 : public QDialog {
    Q_OBJECT
  public:
    // `state` gives the dial-up service and the sink of the test buttons;
    // without it the state of a main window parent is used.
    explicit TForm2(QWidget* parent = nullptr, MainState* state = nullptr);

    // Shows the dialog modally, centred on the main window. True for OK; then
    // `out` holds the values with the two dial ticks.
    bool Exec(DelayedStart& out);
    // What a task takes from the dialog: hours, minutes and the texts always
    // (also when it was not shown this time), the ticks only when `confirmed`.
    DelayedStart Values(bool confirmed) const;

    void FormShow();
    void Button1Click();
    void Button3Click();
    void Button4Click();

    QLabel* Label4;
    UpDownField* Edit1;  // hours, with its up-down
    QLabel* Label5;
    UpDownField* Edit2;  // minutes
    QLabel* Label6;
    QCheckBox* CheckBox3;
    QLabel* Label2;
    QComboBox* Cs;
    QLabel* Label3;
    QLineEdit* Edit7;
    QLabel* Label7;
    QLineEdit* Edit10;
    QCheckBox* CheckBox1;
    QGroupBox* GroupBox1;
    QPushButton *Button3, *Button4, *Button1, *Button2;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    MainState* State() const;
    MainState* OwnState;
};
