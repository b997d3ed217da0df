// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// render_icon SVG OUT.png SIZE: draws the application icon at SIZE x SIZE pixels, for the hicolor
// PNG sizes that `cmake --install` puts beside the scalable icon. A build-time tool; it needs no
// display. Exit 1 with a message on a bad argument, an unreadable SVG or a failed write.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: render_icon SVG OUT.png SIZE\n");
    return 1;
  }
  const int size = std::atoi(argv[3]);
  if (size < 1 || size > 1024) {
    std::fprintf(stderr, "render_icon: size must be 1 to 1024 pixels, not '%s'\n", argv[3]);
    return 1;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "render_icon: cannot read %s as SVG\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(0, 0, size, size));
  }
  // Qt writes neither a time nor a gamma chunk: the same SVG and Qt give the same bytes.
  if (!image.convertToFormat(QImage::Format_ARGB32).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "render_icon: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
