// Writes the user interface's pictures and its font into a folder at build time:
//   generate_ui_assets <output folder> <source TrueType font>
// Button pictures and icons are a flat-coloured disc with a white glyph each; the font is the
// source font under the family name "levenim MT".
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Glyph = std::function<void(QPainter&)>;

QPen WhitePen(double width) {
  return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Glyphs in a unit square, drawn over the disc.
void Sun(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0.5, 0.5), 0.14, 0.14);
  p.setPen(WhitePen(0.05));
  for (int i = 0; i < 8; ++i) {
    p.save();
    p.translate(0.5, 0.5);
    p.rotate(45.0 * i);
    p.drawLine(QPointF(0.0, -0.22), QPointF(0.0, -0.31));
    p.restore();
  }
}

void FramingCorners(QPainter& p) {
  p.setPen(WhitePen(0.05));
  p.setBrush(Qt::NoBrush);
  const double a = 0.26, b = 0.74, l = 0.12;
  for (double x : {a, b}) {
    for (double y : {a, b}) {
      const double dx = x == a ? l : -l, dy = y == a ? l : -l;
      p.drawPolyline(QPolygonF({QPointF(x + dx, y), QPointF(x, y), QPointF(x, y + dy)}));
    }
  }
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0.5, 0.46), 0.08, 0.08);
  p.drawPie(QRectF(0.36, 0.56, 0.28, 0.22), 0, 180 * 16);
}

void Landscape(QPainter& p) {
  p.setPen(WhitePen(0.045));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(QRectF(0.25, 0.3, 0.5, 0.4), 0.04, 0.04);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPolygon(QPolygonF({QPointF(0.29, 0.66), QPointF(0.44, 0.44), QPointF(0.56, 0.6),
                           QPointF(0.62, 0.52), QPointF(0.71, 0.66)}));
  p.drawEllipse(QPointF(0.63, 0.4), 0.045, 0.045);
}

void Rings(QPainter& p) {
  p.setBrush(Qt::NoBrush);
  p.setPen(WhitePen(0.035));
  p.drawEllipse(QPointF(0.5, 0.5), 0.27, 0.27);
  p.setPen(WhitePen(0.05));
  p.drawEllipse(QPointF(0.5, 0.5), 0.17, 0.17);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0.5, 0.5), 0.07, 0.07);
}

void Face(QPainter& p) {
  p.setPen(WhitePen(0.05));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(0.5, 0.5), 0.2, 0.27);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0.43, 0.45), 0.035, 0.035);
  p.drawEllipse(QPointF(0.57, 0.45), 0.035, 0.035);
  p.setPen(WhitePen(0.035));
  p.drawArc(QRectF(0.42, 0.5, 0.16, 0.12), 200 * 16, 140 * 16);
}

void Eye(QPainter& p) {
  QPainterPath almond;
  almond.moveTo(0.2, 0.5);
  almond.quadTo(0.5, 0.2, 0.8, 0.5);
  almond.quadTo(0.5, 0.8, 0.2, 0.5);
  p.setPen(WhitePen(0.05));
  p.setBrush(Qt::NoBrush);
  p.drawPath(almond);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(0.5, 0.5), 0.1, 0.1);
}

void Folder(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  QPainterPath folder;
  folder.moveTo(0.24, 0.3);
  folder.lineTo(0.42, 0.3);
  folder.lineTo(0.47, 0.36);
  folder.lineTo(0.76, 0.36);
  folder.lineTo(0.76, 0.7);
  folder.lineTo(0.24, 0.7);
  folder.closeSubpath();
  p.drawPath(folder);
}

void Chevron(QPainter& p, bool right) {
  p.setPen(WhitePen(0.09));
  p.setBrush(Qt::NoBrush);
  const double tip = right ? 0.62 : 0.38, tail = right ? 0.42 : 0.58;
  p.drawPolyline(QPolygonF({QPointF(tail, 0.3), QPointF(tip, 0.5), QPointF(tail, 0.7)}));
}

void Mask(QPainter& p) {
  QPainterPath mask;
  mask.addEllipse(QPointF(0.5, 0.5), 0.22, 0.28);
  QPainterPath holes;
  holes.addEllipse(QPointF(0.42, 0.44), 0.06, 0.04);
  holes.addEllipse(QPointF(0.58, 0.44), 0.06, 0.04);
  holes.addRect(QRectF(0.44, 0.62, 0.12, 0.03));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(mask.subtracted(holes));
}

void LetterV(QPainter& p) {
  p.setPen(WhitePen(0.1));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(0.3, 0.3), QPointF(0.5, 0.7), QPointF(0.7, 0.3)}));
}

QImage Picture(int size, QColor colour, const Glyph& glyph) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size, size);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(QPointF(0.5, 0.5), 0.47, 0.47);
  glyph(painter);
  painter.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

// Two double arrows, across and upright, beside the calibration sliders.
QImage ScaleArrows(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size, size);
  const QColor blue(0x00, 0xae, 0xef);
  p.setPen(QPen(blue, 0.05, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(0.2, 0.5), QPointF(0.8, 0.5));
  p.drawLine(QPointF(0.5, 0.2), QPointF(0.5, 0.8));
  p.setPen(Qt::NoPen);
  p.setBrush(blue);
  const double h = 0.1;
  p.drawPolygon(
      QPolygonF({QPointF(0.1, 0.5), QPointF(0.1 + h, 0.5 - h), QPointF(0.1 + h, 0.5 + h)}));
  p.drawPolygon(
      QPolygonF({QPointF(0.9, 0.5), QPointF(0.9 - h, 0.5 - h), QPointF(0.9 - h, 0.5 + h)}));
  p.drawPolygon(
      QPolygonF({QPointF(0.5, 0.1), QPointF(0.5 - h, 0.1 + h), QPointF(0.5 + h, 0.1 + h)}));
  p.drawPolygon(
      QPolygonF({QPointF(0.5, 0.9), QPointF(0.5 - h, 0.9 - h), QPointF(0.5 + h, 0.9 - h)}));
  p.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

// Appends the low `bytes` bytes of `value`, least significant first or (big endian) last.
void AppendBytes(QByteArray& out, quint32 value, int bytes, bool big_endian) {
  for (int i = 0; i < bytes; ++i) {
    const int shift = 8 * (big_endian ? bytes - 1 - i : i);
    out.append(char((value >> shift) & 0xff));
  }
}

// Icon files are little endian, font files big endian.
void Append16(QByteArray& out, quint16 value) { AppendBytes(out, value, 2, false); }
void Append32(QByteArray& out, quint32 value) { AppendBytes(out, value, 4, false); }
void Put16(QByteArray& out, quint16 value) { AppendBytes(out, value, 2, true); }
void Put32(QByteArray& out, quint32 value) { AppendBytes(out, value, 4, true); }

// An icon file with one uncompressed 32-bit entry per size.
QByteArray Ico(const std::vector<QImage>& images) {
  QByteArray header, data;
  Append16(header, 0);
  Append16(header, 1);
  Append16(header, quint16(images.size()));
  quint32 offset = 6 + 16 * quint32(images.size());
  for (const QImage& image : images) {
    const int size = image.width();
    const int mask_row = ((size + 31) / 32) * 4;
    QByteArray entry;
    Append32(entry, 40);
    Append32(entry, quint32(size));
    Append32(entry, quint32(size * 2));  // colour and mask rows together
    Append16(entry, 1);
    Append16(entry, 32);
    Append32(entry, 0);
    Append32(entry, quint32(size * size * 4 + mask_row * size));
    for (int i = 0; i < 4; ++i) Append32(entry, 0);
    for (int y = size - 1; y >= 0; --y) {  // rows bottom up, BGRA
      entry.append(reinterpret_cast<const char*>(image.constScanLine(y)), size * 4);
    }
    entry.append(QByteArray(mask_row * size, '\0'));
    header.append(char(size >= 256 ? 0 : size));
    header.append(char(size >= 256 ? 0 : size));
    header.append(char(0));
    header.append(char(0));
    Append16(header, 1);
    Append16(header, 32);
    Append32(header, quint32(entry.size()));
    Append32(header, offset);
    offset += quint32(entry.size());
    data.append(entry);
  }
  return header + data;
}

// --- Font renaming: the source font's tables with a new name table. -----------------------

quint16 Get16(const QByteArray& data, int at) {
  return qFromBigEndian<quint16>(reinterpret_cast<const uchar*>(data.constData()) + at);
}

quint32 Get32(const QByteArray& data, int at) {
  return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(data.constData()) + at);
}

quint32 TableChecksum(const QByteArray& table) {
  QByteArray padded = table;
  while (padded.size() % 4 != 0) padded.append('\0');
  quint32 sum = 0;
  for (int i = 0; i < padded.size(); i += 4) sum += Get32(padded, i);
  return sum;
}

struct NameRecord {
  quint16 platform, encoding, language, id;
  QByteArray text;
};

QByteArray Utf16Be(const QString& text) {
  QByteArray out;
  for (QChar c : text) Put16(out, c.unicode());
  return out;
}

// Keeps the source's copyright, version, designer and licence records and names the family anew.
QByteArray RenamedNameTable(const QByteArray& name, const QString& family) {
  const QString postscript = QString(family).remove(' ');
  const std::map<int, QString> replaced = {
      {1, family},  {2, "Regular"}, {3, family + ": Vantisol build"}, {4, family}, {6, postscript},
      {16, family}, {17, "Regular"}};
  const int count = Get16(name, 2), strings = Get16(name, 4);
  std::vector<NameRecord> records;
  for (int i = 0; i < count; ++i) {
    const int at = 6 + 12 * i;
    NameRecord record{Get16(name, at), Get16(name, at + 2), Get16(name, at + 4),
                      Get16(name, at + 6), QByteArray()};
    const bool windows = record.platform == 3 && record.encoding == 1;
    const bool mac = record.platform == 1 && record.encoding == 0;
    if (!windows && !mac) continue;
    const auto replacement = replaced.find(record.id);
    if (replacement != replaced.end()) {
      record.text = windows ? Utf16Be(replacement->second) : replacement->second.toLatin1();
    } else if (record.id == 0 || record.id == 5 || record.id == 8 || record.id == 11 ||
               record.id == 13 || record.id == 14) {
      record.text = name.mid(strings + Get16(name, at + 10), Get16(name, at + 8));
    } else {
      continue;
    }
    records.push_back(record);
  }
  std::sort(records.begin(), records.end(), [](const NameRecord& a, const NameRecord& b) {
    return std::tie(a.platform, a.encoding, a.language, a.id) <
           std::tie(b.platform, b.encoding, b.language, b.id);
  });
  QByteArray table, texts;
  Put16(table, 0);
  Put16(table, quint16(records.size()));
  Put16(table, quint16(6 + 12 * records.size()));
  for (const NameRecord& record : records) {
    Put16(table, record.platform);
    Put16(table, record.encoding);
    Put16(table, record.language);
    Put16(table, record.id);
    Put16(table, quint16(record.text.size()));
    Put16(table, quint16(texts.size()));
    texts.append(record.text);
  }
  return table + texts;
}

QByteArray RenamedFont(const QByteArray& font, const QString& family) {
  const int tables = Get16(font, 4);
  std::map<QByteArray, QByteArray> contents;  // sorted by tag, as the directory wants
  for (int i = 0; i < tables; ++i) {
    const int at = 12 + 16 * i;
    contents[font.mid(at, 4)] = font.mid(Get32(font, at + 8), Get32(font, at + 12));
  }
  contents["name"] = RenamedNameTable(contents["name"], family);
  QByteArray& head = contents["head"];
  head.replace(8, 4, QByteArray(4, '\0'));  // checksum adjustment, set below

  int search = 1, selector = 0;
  while (search * 2 <= tables) search *= 2, ++selector;
  QByteArray out;
  Put32(out, Get32(font, 0));
  Put16(out, quint16(tables));
  Put16(out, quint16(search * 16));
  Put16(out, quint16(selector));
  Put16(out, quint16(tables * 16 - search * 16));
  quint32 offset = 12 + 16 * quint32(tables);
  QByteArray body;
  int head_offset = 0;
  for (const auto& [tag, table] : contents) {
    out.append(tag);
    Put32(out, TableChecksum(table));
    Put32(out, offset);
    Put32(out, quint32(table.size()));
    if (tag == "head") head_offset = int(offset);
    QByteArray padded = table;
    while (padded.size() % 4 != 0) padded.append('\0');
    body.append(padded);
    offset += quint32(padded.size());
  }
  out.append(body);
  const quint32 adjustment = 0xB1B0AFBAu - TableChecksum(out);
  QByteArray value;
  Put32(value, adjustment);
  out.replace(head_offset + 8, 4, value);
  return out;
}

bool Write(const QString& path, const QByteArray& data) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <output folder> <source font>\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]) + "/";
  bool ok = true;

  struct Button {
    const char* name;
    QRgb colour;
    Glyph glyph;
  };
  const std::vector<Button> buttons = {
      {"vantisol_buttons_relighting.png", qRgb(0xf5, 0xa6, 0x23), Sun},
      {"vantisol_buttons_auto_cam.png", qRgb(0x1a, 0xbc, 0x9c), FramingCorners},
      {"vantisol_buttons_bg_blur2.png", qRgb(0x8e, 0x44, 0xad), Landscape},
      {"vantisol_buttons_bg_blur.png", qRgb(0x34, 0x98, 0xdb), Rings},
      {"vantisol_buttons_face_undistort.png", qRgb(0x27, 0xae, 0x60), Face},
      {"vantisol_buttons_gaze_correction.png", qRgb(0x2c, 0x3e, 0x8c), Eye},
      {"vantisol_buttons_background.png", qRgb(0x7f, 0x8c, 0x8d), Folder},
      {"vantisol_buttons_arrow_right.png", qRgb(0x00, 0xae, 0xef),
       [](QPainter& p) { Chevron(p, true); }},
      {"vantisol_buttons_arrow_left.png", qRgb(0xe8, 0x43, 0x93),
       [](QPainter& p) { Chevron(p, false); }},
      {"vantisol_buttons_face_mask.png", qRgb(0xe7, 0x4c, 0x3c), Mask},
      {"icon.png", qRgb(0x1a, 0xab, 0xe3), LetterV},
  };
  for (const Button& button : buttons) {
    ok &= Picture(120, QColor(button.colour), button.glyph).save(folder + button.name, "PNG");
  }

  // Icons share the colour and glyph of the picture they stand for in the interface.
  const std::vector<Button> icons = {
      {"logo.ico", qRgb(0x1a, 0xab, 0xe3), LetterV},
      {"gaze_correction.ico", qRgb(0x2c, 0x3e, 0x8c), Eye},
      {"face_undistortion.ico", qRgb(0x27, 0xae, 0x60), Face},
  };
  for (const Button& icon : icons) {
    std::vector<QImage> sizes;
    for (int size : {16, 24, 32, 48})
      sizes.push_back(Picture(size, QColor(icon.colour), icon.glyph));
    ok &= Write(folder + icon.name, Ico(sizes));
  }

  ok &= ScaleArrows(200).save(folder + "mesh_scale_arrows.png", "PNG");

  QFile source(QString::fromLocal8Bit(argv[2]));
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  ok &= Write(folder + "levenim-mt.ttf", RenamedFont(source.readAll(), "levenim MT"));
  return ok ? 0 : 1;
}
