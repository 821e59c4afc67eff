#include "ui/coordinate_edit.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>

CoordinateEditPair::CoordinateEditPair(QLineEdit* latEdit, QComboBox* latBox, StoreFn storeLat,
                                       QLineEdit* lonEdit, QComboBox* lonBox, StoreFn storeLon,
                                       QObject* parent)
    : QObject(parent),
      LatEdit_(latEdit),
      LatBox_(latBox),
      StoreLat(std::move(storeLat)),
      LonEdit_(lonEdit),
      LonBox_(lonBox),
      StoreLon(std::move(storeLon)) {
    LatEdit_->installEventFilter(this);
    LonEdit_->installEventFilter(this);
}

void CoordinateEditPair::SetupBoxes(QComboBox* latBox, QComboBox* lonBox) {
    latBox->clear();
    latBox->addItems({QStringLiteral("N"), QStringLiteral("S")});
    latBox->setCurrentIndex(0);
    lonBox->clear();
    lonBox->addItems({QStringLiteral("W"), QStringLiteral("E")});
    lonBox->setCurrentIndex(1);
}

QString CoordinateEditPair::HintText() {
    return QStringLiteral(
        "При вводе вместо знаков препинания можно нажимать пробел. \r\n"
        "Также можно использовать клавиши N, S, W, E - даже не переключая язык.");
}

QString CoordinateEditPair::NotANumberText(const QString& minutes) {
    return QStringLiteral("'%1' - неверное число").arg(minutes);
}

void CoordinateEditPair::SetupEdit(QLineEdit* edit) {
    edit->setMaxLength(MaxCoordinateTextLength);
    edit->setToolTip(HintText());
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
}

CoordKind CoordinateEditPair::KindOf(const QLineEdit* edit) const {
    return edit == LatEdit_ ? CoordKind::Latitude : CoordKind::Longitude;
}

QComboBox* CoordinateEditPair::BoxOf(const QLineEdit* edit) const {
    return edit == LatEdit_ ? LatBox_ : LonBox_;
}

bool CoordinateEditPair::eventFilter(QObject* watched, QEvent* event) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit != LatEdit_ && edit != LonEdit_) return QObject::eventFilter(watched, event);

    if (event->type() == QEvent::KeyPress) return FilterKey(edit, static_cast<QKeyEvent*>(event));

    if (event->type() == QEvent::FocusOut && !HandlingExit) {
        // Only a move to another control of the window is an exit; a window
        // switch, a popup or our own message box is not.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            reason != Qt::MenuBarFocusReason) {
            ParseEdit(edit);
        }
    }
    return QObject::eventFilter(watched, event);
}

bool CoordinateEditPair::FilterKey(QLineEdit* edit, QKeyEvent* event) {
    char32_t key = 0;
    if (event->key() == Qt::Key_Backspace) {
        key = KeyBackspace;
    } else {
        const QString text = event->text();
        if (text.isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
            return false;
        }
        key = text.toUcs4().value(0);
        if (key < 0x20 || key == 0x7F) return false;
    }

    const int caret = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    const KeyFilterResult result =
        FilterCoordinateKey(edit->text().toStdString(), caret, key, KindOf(edit));
    if (result.Select) BoxOf(edit)->setCurrentIndex(HemisphereIndex(*result.Select));
    if (!result.LetThrough()) return true;

    const bool passOn = result.Char == key;  // a digit or backspace: the edit does it
    if (!passOn) edit->insert(QString::fromUcs4(&result.Char, 1));
    if (CharacterAccepted) CharacterAccepted();
    return !passOn;
}

ParseStatus CoordinateEditPair::ParseEdit(QLineEdit* edit) {
    return ParseOne(edit, true);
}

bool CoordinateEditPair::ParseBoth() {
    const ParseStatus lat = ParseOne(LatEdit_, false);
    const ParseStatus lon = ParseOne(LonEdit_, false);
    QLineEdit* bad = lat != ParseStatus::Valid   ? LatEdit_
                     : lon != ParseStatus::Valid ? LonEdit_
                                                 : nullptr;
    if (bad) {
        HandlingExit = true;
        bad->setFocus(Qt::OtherFocusReason);
        HandlingExit = false;
    }
    return bad == nullptr;
}

ParseStatus CoordinateEditPair::ParseOne(QLineEdit* edit, bool focusIfBad) {
    const CoordKind kind = KindOf(edit);
    const Hemisphere hemisphere = HemisphereFromIndex(kind, BoxOf(edit)->currentIndex());
    const ParsedCoordinate parsed = ParseCoordinate(edit->text().toStdString(), kind, hemisphere);

    if (parsed.Status == ParseStatus::NotANumber) {
        ReportNotANumber(edit, QString::fromStdString(parsed.MinutesText));
    } else {
        const StoreFn& store = kind == CoordKind::Latitude ? StoreLat : StoreLon;
        if (store) store(parsed.Value);
    }
    if (parsed.Status != ParseStatus::Valid && focusIfBad) {
        // Going back from inside a focus change is fine for Qt; the guard keeps
        // the edit losing focus from counting as an exit of the other edit.
        HandlingExit = true;
        edit->setFocus(Qt::OtherFocusReason);
        HandlingExit = false;
    }
    return parsed.Status;
}

void CoordinateEditPair::ReportNotANumber(QLineEdit* edit, const QString& minutes) {
    // Shown once the current event is over: a modal box inside a focus change
    // or a click would interleave with it, and the click that leaves the edit
    // and presses OK must not show the same message twice.
    if (ReportPending) return;
    ReportPending = true;
    QPointer<QLineEdit> guard(edit);
    QMetaObject::invokeMethod(
        this,
        [this, guard, text = NotANumberText(minutes)] {
            QWidget* parent = guard ? guard->window() : nullptr;
            QMessageBox::warning(parent, QGuiApplication::applicationDisplayName(), text);
            ReportPending = false;
        },
        Qt::QueuedConnection);
}

void CoordinateEditPair::Fill(double lat, double lon) {
    const EntryCoordinate latText = FormatEntryCoordinate(lat, CoordKind::Latitude);
    const EntryCoordinate lonText = FormatEntryCoordinate(lon, CoordKind::Longitude);
    LatEdit_->setText(QString::fromStdString(latText.Text));
    LatBox_->setCurrentIndex(HemisphereIndex(latText.Hemi));
    LonEdit_->setText(QString::fromStdString(lonText.Text));
    LonBox_->setCurrentIndex(HemisphereIndex(lonText.Hemi));
}
