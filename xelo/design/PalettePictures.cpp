#include "xelo/design/PalettePictures.h"

#include "xelo/framework/SysUtils.h"

#include <QPainter>

#include <functional>
#include <map>

namespace xelo {
namespace {

constexpr int kSize = 32;

// The 16 colours of the classic palette; the pictures use no others.
const QList<QRgb>& Colours() {
  static const QList<QRgb> colours = {
      qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
      qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
      qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
      qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
  };
  return colours;
}

// Indexes into Colours().
enum Colour { Black, Maroon, Green, Olive, Navy, Purple, Teal, Silver, Grey, Red, Lime, Yellow, Blue, Fuchsia,
              Aqua, White };
QColor C(Colour colour) { return QColor(Colours()[colour]); }

// A server cabinet: grey case, two drive bays, a lit lamp.
void DrawCabinet(QPainter& p, int x, int y, int w, int h) {
  p.setPen(C(Black));
  p.setBrush(C(Silver));
  p.drawRect(x, y, w - 1, h - 1);
  p.setPen(C(White));
  p.drawLine(x + 1, y + 1, x + w - 2, y + 1);
  p.drawLine(x + 1, y + 1, x + 1, y + h - 2);
  p.setPen(C(Grey));
  for (int bay = 0; bay < 2; ++bay) {
    const int by = y + 4 + bay * 5;
    p.setBrush(C(Grey));
    p.drawRect(x + 3, by, w - 7, 2);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(C(Lime));
  p.drawRect(x + 3, y + h - 5, 2, 2);
}

void DrawServer(QPainter& p) {
  DrawCabinet(p, 8, 2, 16, 24);
  // The network it is reached over: a cable down to a bus.
  p.setPen(C(Navy));
  p.drawLine(16, 26, 16, 29);
  p.setPen(C(Blue));
  p.drawLine(3, 29, 28, 29);
  p.drawLine(3, 30, 28, 30);
  // A data wave on the case: values flow.
  p.setPen(C(Red));
  p.drawPolyline(
      QPolygon({QPoint(11, 17), QPoint(13, 14), QPoint(15, 19), QPoint(17, 13), QPoint(19, 18), QPoint(20, 16)}));
}

void DrawServerBrowser(QPainter& p) {
  DrawCabinet(p, 2, 2, 14, 20);
  DrawCabinet(p, 10, 6, 14, 20);
  // A magnifying glass over them: the servers of a computer, looked up.
  p.setPen(QPen(C(Navy), 2));
  p.setBrush(C(Aqua));
  p.drawEllipse(QPoint(21, 19), 6, 6);
  p.setPen(QPen(C(Olive), 3));
  p.drawLine(25, 24, 30, 29);
}

void DrawGui(QPainter& p) {
  // A window with a title bar ...
  p.setPen(C(Black));
  p.setBrush(C(White));
  p.drawRect(1, 3, 29, 25);
  p.setPen(Qt::NoPen);
  p.setBrush(C(Navy));
  p.drawRect(2, 4, 28, 4);
  p.setBrush(C(Silver));
  p.drawRect(26, 5, 3, 2);
  // ... whose controls show the values: a text box and a bar gauge.
  p.setPen(C(Grey));
  p.setBrush(C(White));
  p.drawRect(4, 11, 22, 4);
  p.setPen(C(Black));
  p.drawLine(6, 13, 15, 13);
  p.setPen(Qt::NoPen);
  const int bars[] = {5, 8, 6, 10};
  for (int i = 0; i < 4; ++i) {
    p.setBrush(i == 3 ? C(Red) : C(Green));
    p.drawRect(5 + i * 5, 26 - bars[i], 3, bars[i]);
  }
  // The link from an item to a control.
  p.setPen(C(Fuchsia));
  p.drawLine(28, 12, 28, 20);
}

QImage Draw(const std::function<void(QPainter&)>& draw) {
  QImage image(kSize, kSize, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);  // crisp pixels in the palette's colours only
    draw(painter);
  }
  return image;
}

const std::map<std::string, QImage>& Pictures() {
  static const std::map<std::string, QImage> pictures = {
      {"TXELOSERVER", Draw(DrawServer)},
      {"TXELOSERVERBROWSER", Draw(DrawServerBrowser)},
      {"TXELOGUI", Draw(DrawGui)},
  };
  return pictures;
}

}  // namespace

std::vector<std::string> PalettePictureNames() {
  std::vector<std::string> names;
  for (const auto& [name, image] : Pictures()) names.push_back(name);
  return names;
}

QImage PaletteImage(const std::string& className) {
  const auto found = Pictures().find(UpperCase(className));
  return found != Pictures().end() ? found->second : QImage();
}

QPixmap PalettePicture(const std::string& className) { return QPixmap::fromImage(PaletteImage(className)); }

}  // namespace xelo
