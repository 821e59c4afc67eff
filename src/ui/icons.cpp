#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// A 22 x 22 icon on a transparent ground, drawn smoothed or pixel-exact.
template <class Draw>
QIcon Drawn(bool smooth, Draw draw) {
    QPixmap pm(22, 22);
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        if (smooth) p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    return QIcon(pm);
}

void DrawDisk(QPainter& p, QRectF r) {
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(90, 120, 170));
    p.drawRect(r);
    p.setBrush(QColor(230, 230, 230));
    p.drawRect(QRectF(r.left() + r.width() * 0.2, r.top(), r.width() * 0.6, r.height() * 0.35));
}

void DrawGlobe(QPainter& p, QRectF r) {
    p.setPen(QPen(QColor(20, 70, 30), 1));
    p.setBrush(QColor(70, 150, 220));
    p.drawEllipse(r);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(r.adjusted(r.width() * 0.3, 0, -r.width() * 0.3, 0));
    p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
}

}  // namespace

QIcon ModeIcon(int image) {
    return Drawn(true, [&](QPainter& p) {
        if (image == 0) {
            DrawDisk(p, QRectF(3, 3, 16, 16));
        } else if (image == 1) {
            DrawGlobe(p, QRectF(2, 2, 18, 18));
        } else {
            DrawGlobe(p, QRectF(1, 1, 13, 13));
            DrawDisk(p, QRectF(9, 9, 12, 12));
        }
    });
}

QIcon RefreshIcon() {
    return Drawn(true, [&](QPainter& p) {
        p.setPen(QPen(QColor(30, 120, 40), 2.5));
        p.drawArc(QRectF(4, 4, 14, 14), 30 * 16, 280 * 16);
        QPainterPath arrow;
        arrow.moveTo(18, 3);
        arrow.lineTo(19, 10);
        arrow.lineTo(12, 8);
        arrow.closeSubpath();
        p.fillPath(arrow, QColor(30, 120, 40));
    });
}

QIcon SearchIcon() {
    return Drawn(true, [&](QPainter& p) {
        p.setPen(QPen(QColor(40, 40, 40), 2));
        p.drawEllipse(QRectF(3, 3, 11, 11));
        p.setPen(QPen(QColor(40, 40, 40), 3));
        p.drawLine(QPointF(13, 13), QPointF(19, 19));
    });
}

QIcon SettingsIcon() {
    return Drawn(true, [&](QPainter& p) {
        p.translate(11, 11);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 90, 90));
        for (int i = 0; i < 8; ++i) {
            p.drawRect(QRectF(-1.8, -10, 3.6, 5));
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), 6.5, 6.5);
        p.setBrush(QColor(235, 235, 235));
        p.drawEllipse(QPointF(0, 0), 2.5, 2.5);
    });
}

QIcon SelectionIcon() {
    return Drawn(false, [&](QPainter& p) {
        p.setPen(QPen(QColor(20, 20, 20), 1, Qt::DashLine));
        p.drawRect(QRect(3, 4, 15, 12));
        p.setPen(QPen(QColor(200, 30, 30), 2));
        p.drawLine(QPoint(14, 13), QPoint(20, 19));
    });
}

QIcon PolygonIcon() {
    return Drawn(true, [&](QPainter& p) {
        const QPointF outline[] = {{3, 8}, {10, 3}, {19, 7}, {16, 18}, {6, 16}};
        p.setPen(QPen(QColor(20, 20, 20), 1, Qt::DashLine));
        p.drawPolygon(outline, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 30, 30));
        for (const QPointF& corner : outline)
            p.drawRect(QRectF(corner - QPointF(1.5, 1.5), QSizeF(3, 3)));
    });
}

QIcon OpenRegionIcon() {
    return Drawn(true, [&](QPainter& p) {
        p.setPen(QPen(QColor(120, 90, 20), 1));
        p.setBrush(QColor(235, 200, 90));
        p.drawRect(QRectF(2, 6, 18, 13));
        p.drawRect(QRectF(2, 4, 7, 3));
        p.setPen(QPen(QColor(30, 110, 40), 2));
        p.drawPolyline(QPolygonF({{5, 16}, {9, 10}, {13, 14}, {17, 9}}));
    });
}

QIcon CoverageIcon() {
    return Drawn(false, [&](QPainter& p) {
        p.setPen(QPen(QColor(60, 60, 60), 1));
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col) {
                const bool held = (row + col) % 2 == 0 || row == 1;
                p.setBrush(held ? QColor(40, 170, 90) : QColor(245, 245, 245));
                p.drawRect(QRect(2 + col * 6, 2 + row * 6, 6, 6));
            }
    });
}
