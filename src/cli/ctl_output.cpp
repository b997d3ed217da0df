// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/ctl_output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>

namespace velto::cli {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string hex32(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

void printJson(std::ostream& out, const QJsonDocument& document) {
  out << document.toJson(QJsonDocument::Indented).toStdString();
}

QJsonObject valuesObject(const ControlValues& values) {
  QJsonObject object;
  for (const auto& [id, v] : values) object.insert(qs(rawValue(id)), static_cast<qint64>(v));
  return object;
}

// A name as one line of text: line breaks and other control characters written as escapes.
std::string printable(const QString& name) {
  std::string text;
  for (const char c : name.toStdString()) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (u < 0x20 || u == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      text += hex;
    } else {
      text += c;
    }
  }
  return text;
}

// The auto-exposure modes as UVC numbers them.
const char* modeName(std::int64_t mode) {
  switch (mode) {
    case 1: return "manual";
    case 2: return "auto";
    case 4: return "shutter priority";
    case 8: return "aperture priority";
    default: return "mode";
  }
}

}  // namespace

void printCameras(const std::vector<ListedCamera>& cameras, bool json, std::ostream& out) {
  QJsonArray array;
  for (const ListedCamera& c : cameras) {
    if (json) {
      QJsonObject o{{"name", qs(c.name)},
                    {"id", qs(c.key.hexString())},
                    {"vendorID", c.key.vendorID},
                    {"productID", c.key.productID},
                    {"locationID", static_cast<qint64>(c.locationID)},
                    {"carrier", qs(c.carrier)},
                    {"chosen", c.chosen}};
      if (c.problem) o.insert("problem", qs(*c.problem));
      array.append(o);
    } else {
      out << (c.chosen ? "* " : "  ") << c.name << "  " << c.key.hexString() << "  location " << hex32(c.locationID)
          << "  " << c.carrier;
      if (c.problem) out << "  (" << *c.problem << ")";
      out << "\n";
    }
  }
  if (json) printJson(out, QJsonDocument(array));
}

void printControls(const std::vector<ControlRow>& rows, bool json, std::ostream& out) {
  QJsonArray array;
  if (!json) {
    out << std::left << std::setw(22) << "NAME" << std::setw(20) << "TITLE" << std::right << std::setw(8) << "MIN"
        << std::setw(8) << "MAX" << std::setw(6) << "STEP" << std::setw(9) << "DEFAULT" << std::setw(8) << "VALUE\n";
  }
  for (ControlRow row : rows) {
    // A mode is a bit of its own, not a point on a scale: the bounds are the lowest and highest
    // mode offered (the camera's 0...1 switch would exclude its own default), the modes listed.
    if (row.range && !row.modes.empty()) {
      row.range->min = row.modes.front();
      row.range->max = row.modes.back();
    }
    if (json) {
      QJsonObject o{{"name", qs(rawValue(row.id))}, {"title", qs(title(row.id))}};
      if (row.range) {
        o.insert("min", static_cast<qint64>(row.range->min));
        o.insert("max", static_cast<qint64>(row.range->max));
        o.insert("step", static_cast<qint64>(row.range->step));
        o.insert("default", static_cast<qint64>(row.range->defaultValue));
      }
      if (!row.modes.empty()) {
        QJsonArray modes;
        for (std::int64_t m : row.modes) modes.append(static_cast<qint64>(m));
        o.insert("modes", modes);
      }
      o.insert("value", row.value ? QJsonValue(static_cast<qint64>(*row.value)) : QJsonValue());
      array.append(o);
      continue;
    }
    auto field = [](bool present, std::int64_t v) { return present ? std::to_string(v) : std::string("-"); };
    const bool r = row.range.has_value();
    out << std::left << std::setw(22) << rawValue(row.id) << std::setw(20) << title(row.id) << std::right << std::setw(8)
        << field(r, r ? row.range->min : 0) << std::setw(8) << field(r, r ? row.range->max : 0) << std::setw(6)
        << field(r && row.modes.empty(), r ? row.range->step : 0) << std::setw(9)
        << field(r, r ? row.range->defaultValue : 0) << std::setw(7) << field(row.value.has_value(), row.value.value_or(0));
    if (!row.modes.empty()) {
      out << "  modes:";
      for (std::size_t i = 0; i < row.modes.size(); ++i) {
        out << (i == 0 ? " " : ", ") << row.modes[i] << " " << modeName(row.modes[i]);
      }
    }
    out << "\n";
  }
  if (json) printJson(out, QJsonDocument(array));
}

bool printReading(const std::vector<ControlID>& ids, const ControlValues& values,
                  const std::map<ControlID, std::string>& failures, bool json, std::ostream& out, std::ostream& err) {
  ControlValues read;
  bool all = true;
  for (ControlID id : ids) {
    if (auto v = values.find(id); v != values.end()) {
      read[id] = v->second;
      if (!json) out << rawValue(id) << "=" << v->second << "\n";
      continue;
    }
    all = false;
    const auto why = failures.find(id);
    err << "velto-ctl: "
        << (why != failures.end() ? why->second : std::string(rawValue(id)) + " could not be read") << "\n";
  }
  if (json) printJson(out, QJsonDocument(valuesObject(read)));
  return all;
}

void printLock(bool on, std::ostream& out) { out << (on ? "on" : "off") << "\n"; }

void printPresets(const QList<Preset>& presets, bool json, std::ostream& out) {
  QJsonArray array;
  for (const Preset& p : presets) {
    if (json) {
      array.append(QJsonObject{
          {"id", p.id.toString(QUuid::WithoutBraces).toUpper()}, {"name", p.name}, {"values", valuesObject(p.values)}});
    } else {
      out << printable(p.name) << "  (" << p.values.size() << (p.values.size() == 1 ? " control" : " controls") << ")\n";
    }
  }
  if (json) printJson(out, QJsonDocument(array));
}

void printCapture(CaptureCommand::Kind kind, const QVariantMap& result, bool json, std::ostream& out) {
  const auto size = QStringLiteral("%1×%2").arg(result.value("width").toInt()).arg(result.value("height").toInt()).toStdString();
  switch (kind) {
    case CaptureCommand::Kind::stats: {
      if (json) {
        printJson(out, QJsonDocument(QJsonObject::fromVariantMap(result)));
        return;
      }
      // The luma histogram in sixteen columns of block characters, each the tallest of four bins.
      static const char* const kBlocks[] = {" ", "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
      std::string bars;
      const QVariantList luma = result.value("luma").toList();
      for (qsizetype i = 0; i + 4 <= luma.size(); i += 4) {
        double top = 0;
        for (qsizetype j = i; j < i + 4; ++j) top = std::max(top, luma[j].toDouble());
        bars += kBlocks[std::clamp(int(std::lround(top * 8)), 0, 8)];
      }
      char percent[64];
      std::snprintf(percent, sizeof percent, "%.1f %% | %.1f %%", result.value("clippedHighlights").toDouble() * 100,
                    result.value("crushedShadows").toDouble() * 100);
      const std::string p(percent);
      const auto bar = p.find(" | ");
      out << "frame: " << size << "\n"
          << "frames received: " << result.value("frames").toLongLong() << "\n"
          << "clipped highlights: " << p.substr(0, bar) << "\n"
          << "crushed shadows: " << p.substr(bar + 3) << "\n"
          << "luma: |" << bars << "|\n";
      return;
    }
    case CaptureCommand::Kind::snapshot:
      out << "wrote " << result.value("file").toString().toStdString() << " (" << size << ")\n";
      return;
    case CaptureCommand::Kind::calibrate:
      out << result.value("message").toString().toStdString() << "\n";
      return;
    case CaptureCommand::Kind::formats: {
      const QVariantList modes = result.value("modes").toList();
      if (json) {
        printJson(out, QJsonDocument(QJsonArray::fromVariantList(modes)));
        return;
      }
      // One mode a line, as the window's picker lists them: "1920x1080  30 fps  MJPEG".
      for (const QVariant& entry : modes) {
        const QVariantMap m = entry.toMap();
        const std::string dimensions =
            QStringLiteral("%1x%2").arg(m.value("width").toInt()).arg(m.value("height").toInt()).toStdString();
        out << std::left << std::setw(10) << dimensions << std::right << std::setw(4) << m.value("fps").toInt() << " fps  "
            << m.value("format").toString().toStdString() << "\n";
      }
      if (modes.isEmpty()) out << result.value("camera").toString().toStdString() << " does not say which modes it offers\n";
      return;
    }
  }
}

}  // namespace velto::cli
