// Draws the program's icons into resources/icons/. The PNGs are committed, so
// this only needs running when an image changes:
//   g++ -std=c++17 -fPIC DrawIcons.cpp $(pkg-config --cflags --libs Qt5Gui) -o draw-icons
//   QT_QPA_PLATFORM=offscreen ./draw-icons icons
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <functional>

namespace {

const int kSize = 32;

void Save(const QString& folder, const QString& name, const std::function<void(QPainter&)>& draw)
{
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    image.save(folder + "/" + name + ".png");
}

void Disc(QPainter& p, const QColor& fill, const QColor& rim)
{
    p.setPen(QPen(rim, 2));
    QRadialGradient gradient(QPointF(12, 11), 18);
    gradient.setColorAt(0, fill.lighter(150));
    gradient.setColorAt(1, fill);
    p.setBrush(gradient);
    p.drawEllipse(QRectF(3, 3, 26, 26));
}

QPolygonF Star(QPointF centre, double outer, double inner)
{
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double r = (i % 2 == 0) ? outer : inner;
        const double angle = -M_PI / 2 + i * M_PI / 5;
        star << QPointF(centre.x() + r * qCos(angle), centre.y() + r * qSin(angle));
    }
    return star;
}

void Bubble(QPainter& p, QRectF body, QPointF tail, const QColor& fill)
{
    QPainterPath path;
    path.addRoundedRect(body, 6, 6);
    QPainterPath tip;
    tip.moveTo(body.left() + 6, body.bottom() - 1);
    tip.lineTo(tail);
    tip.lineTo(body.left() + 13, body.bottom() - 1);
    tip.closeSubpath();
    p.setPen(QPen(fill.darker(160), 1.5));
    p.setBrush(fill);
    p.drawPath(path.united(tip));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("icons");
    QDir().mkpath(folder);

    Save(folder, "online_icon", [](QPainter& p) { Disc(p, QColor(40, 170, 60), QColor(20, 90, 30)); });
    Save(folder, "offline_icon", [](QPainter& p) { Disc(p, QColor(150, 150, 150), QColor(80, 80, 80)); });
    Save(folder, "away_icon", [](QPainter& p) {
        Disc(p, QColor(240, 180, 30), QColor(140, 90, 10));
        p.setPen(QPen(QColor(90, 60, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 16), QPointF(16, 8));
        p.drawLine(QPointF(16, 16), QPointF(22, 19));
    });
    Save(folder, "gold_star_icon", [](QPainter& p) {
        p.setPen(QPen(QColor(150, 100, 0), 1.5));
        QLinearGradient gradient(0, 0, 0, kSize);
        gradient.setColorAt(0, QColor(255, 230, 90));
        gradient.setColorAt(1, QColor(230, 160, 0));
        p.setBrush(gradient);
        p.drawPolygon(Star(QPointF(16, 17), 15, 6.5));
    });
    Save(folder, "chat_icon", [](QPainter& p) {
        Bubble(p, QRectF(2, 4, 28, 19), QPointF(5, 29), QColor(80, 140, 230));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(10 + i * 6, 13.5), 2, 2);
    });
    Save(folder, "room_icon", [](QPainter& p) {
        Bubble(p, QRectF(9, 2, 21, 15), QPointF(27, 22), QColor(250, 170, 60));
        Bubble(p, QRectF(2, 11, 21, 15), QPointF(5, 31), QColor(90, 170, 90));
    });
    Save(folder, "wishlist_icon", [](QPainter& p) {
        p.setPen(QPen(QColor(110, 60, 150), 3));
        p.setBrush(QColor(235, 220, 250));
        p.drawEllipse(QRectF(3, 3, 18, 18));
        p.setPen(QPen(QColor(110, 60, 150), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 19), QPointF(28, 28));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(240, 180, 0));
        p.drawPolygon(Star(QPointF(12, 12.5), 7, 3));
    });
    Save(folder, "browse_icon", [](QPainter& p) {
        p.setPen(QPen(QColor(150, 110, 20), 1.5));
        p.setBrush(QColor(230, 190, 80));
        QPainterPath back;
        back.moveTo(2, 8);
        back.lineTo(12, 8);
        back.lineTo(15, 11);
        back.lineTo(30, 11);
        back.lineTo(30, 27);
        back.lineTo(2, 27);
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(250, 215, 110));
        p.drawPolygon(QPolygonF() << QPointF(2, 27) << QPointF(6, 15) << QPointF(31, 15) << QPointF(28, 27));
    });
    Save(folder, "download_icon", [](QPainter& p) {
        p.setPen(QPen(QColor(20, 100, 30), 1.5));
        p.setBrush(QColor(60, 180, 70));
        p.drawPolygon(QPolygonF() << QPointF(11, 2) << QPointF(21, 2) << QPointF(21, 13) << QPointF(28, 13)
                                  << QPointF(16, 25) << QPointF(4, 13) << QPointF(11, 13));
        p.setBrush(QColor(90, 90, 90));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(3, 27, 26, 4), 1.5, 1.5);
    });
    Save(folder, "info_icon", [](QPainter& p) {
        Disc(p, QColor(40, 100, 210), QColor(20, 50, 120));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(16, 9.5), 2.5, 2.5);
        p.drawRoundedRect(QRectF(13.5, 14, 5, 11), 1.5, 1.5);
    });
    return 0;
}
