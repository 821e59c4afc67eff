#include "ui/accessible_names.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QEvent>
#include <QWidget>

namespace {

bool ShowsNoText(const QWidget* w) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text().isEmpty();
    return qobject_cast<const QAbstractSlider*>(w) != nullptr;
}

// One per window: keeps the names in step with the hints.
class HintNames : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTipChange) {
            auto* w = static_cast<QWidget*>(watched);
            if (ShowsNoText(w)) w->setAccessibleName(w->toolTip());
        }
        return false;
    }
};

}  // namespace

void NameControlsByHints(QWidget* root) {
    auto* names = new HintNames(root);
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!ShowsNoText(w)) continue;
        if (!w->toolTip().isEmpty()) w->setAccessibleName(w->toolTip());
        w->installEventFilter(names);
    }
}
