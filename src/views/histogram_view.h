// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The live histogram over the preview: red, green and blue as translucent areas that brighten
// toward white where they overlap, luma as a white line on top, and under them the share of
// crushed shadows and blown highlights, in orange once either passes one percent. It draws the
// statistics it was last given and nothing else; empty lists draw an empty panel. What it draws
// is kept as an image until the statistics, the size or the font change.
//
// Main thread only.
#pragma once

#include <QImage>
#include <QPainterPath>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "capture/frame_stats.h"

namespace velto::views {

class HistogramView : public QWidget {
  Q_OBJECT

 public:
  explicit HistogramView(QWidget* parent = nullptr);

  // Draws `stats` from the next paint on; none draws the bare panel.
  void setStats(std::optional<FrameStats> stats);
  const std::optional<FrameStats>& stats() const { return stats_; }

  // The outline of one histogram list in an area of `size` (origin top-left): up from the
  // bottom-left corner, through each bin spread evenly across the width, down to the
  // bottom-right corner. Empty for fewer than two bins.
  static QPainterPath curve(const std::vector<float>& bins, const QSizeF& size);

  // A label under the histogram: the bare `label` at one percent or less, else the label and the
  // rounded percentage ("Highlights 3%") as a warning.
  struct Label {
    QString text;
    bool warning = false;
  };
  static Label warning(const QString& label, double fraction);

  // The two labels as shown now (for tests and for screen readers).
  Label shadowsLabel() const;
  Label highlightsLabel() const;

  QSize sizeHint() const override { return {220, 96}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void draw();  // into drawn_

  std::optional<FrameStats> stats_;
  QImage drawn_;  // the panel as last drawn; null: to be drawn again
};

}  // namespace velto::views
