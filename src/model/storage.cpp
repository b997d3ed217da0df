// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/storage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

#include "platform/session/user_defaults.h"
#include "support/log.h"

namespace velto {
namespace {

const QString kPresets = QStringLiteral("presets");
const QString kPreferredCamera = QStringLiteral("preferredCamera");
const QString kUnreadableSuffix = QStringLiteral(".unreadable");
const QString kSettingsPrefix = QStringLiteral("settings.");
const QStringList kBooleans = {QStringLiteral("keepLocked"), QStringLiteral("openWindowAtLaunch")};

// JSON numbers arrive as doubles: accept only those that are whole and within what a double
// holds exactly.
std::optional<std::int64_t> integerOf(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double d = value.toDouble();
  if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e15) return std::nullopt;
  return static_cast<std::int64_t>(d);
}

// A number too large for a double parses as infinity, which JSON cannot write back: a value
// holding one has to be treated as unreadable text rather than rewritten without it.
bool holdsNonFinite(const QJsonValue& value) {
  if (value.isDouble()) return !std::isfinite(value.toDouble());
  if (value.isArray()) {
    for (const QJsonValue& v : value.toArray()) {
      if (holdsNonFinite(v)) return true;
    }
  }
  if (value.isObject()) {
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
      if (holdsNonFinite(it.value())) return true;
    }
  }
  return false;
}

std::optional<Preset> decodePreset(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject object = value.toObject();
  const QJsonValue id = object.value("id");
  const QJsonValue name = object.value("name");
  const QJsonValue values = object.value("values");
  if (!id.isString() || !name.isString() || !values.isObject()) return std::nullopt;
  // Only the canonical text: anything QUuid would also accept (braces, no hyphens) is not ours.
  const QString text = id.toString();
  const QUuid uuid = QUuid::fromString(text);
  if (uuid.isNull() || text.size() != 36) return std::nullopt;
  ControlMap map = decodeControlMap(values.toObject());
  QJsonObject rest = object;
  for (const char* known : {"id", "name", "values"}) rest.remove(QLatin1String(known));
  return Preset{uuid, name.toString(), std::move(map.values), std::move(map.unknown), std::move(rest)};
}

QJsonObject encodePreset(const Preset& preset) {
  QJsonObject object = preset.unknownMembers;
  object.insert("id", preset.id.toString(QUuid::WithoutBraces).toUpper());
  object.insert("name", preset.name);
  object.insert("values", encodeControlMap(preset.values, preset.unknownValues));
  return object;
}

// A name the way a text field would hold it at most; a pair of UTF-16 units is not split.
QString trimmedName(QString name) {
  if (name.size() <= kMaxPresetNameLength) return name;
  name.truncate(kMaxPresetNameLength);
  if (name.back().isHighSurrogate()) name.chop(1);
  return name;
}

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

ControlMap decodeControlMap(const QJsonObject& object) {
  ControlMap map;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const QByteArray name = it.key().toUtf8();
    const auto id = controlFromRawValue(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
    const auto value = integerOf(it.value());
    if (id && value) {
      map.values[*id] = *value;
    } else {
      map.unknown.insert(it.key(), it.value());
    }
  }
  return map;
}

QJsonObject encodeControlMap(const ControlValues& values, const QJsonObject& unknown) {
  QJsonObject object = unknown;
  for (const auto& [id, value] : values) object.insert(text(rawValue(id)), static_cast<qint64>(value));
  return object;
}

Storage::Storage(UserDefaults& defaults) : defaults_(defaults) { audit(); }

QString Storage::settingsKey(CameraKey key) { return kSettingsPrefix + QString::fromStdString(key.hexString()); }

QString Storage::path() const { return defaults_.path(); }

std::optional<QString> Storage::sync() {
  // What was dropped and not replaced since leaves its key now, so that the file as written reads
  // whole: presets within the limits, any other value beside its key (".unreadable").
  for (const QString& key : std::set<QString>(dropped_)) {
    if (key == kPresets) {
      savePresets(loadPresets().value_or(QList<Preset>{}));
    } else if (const auto text = defaults_.data(key)) {
      defaults_.setData(key + kUnreadableSuffix, *text);
      defaults_.remove(key);
    }
  }
  dropped_.clear();
  return defaults_.sync();
}

void Storage::reload() {
  defaults_.reload();
  kept_.clear();
  audit();
}

void Storage::audit() {
  const std::optional<UserText> previous = std::move(readProblem_);
  readProblem_.reset();
  dropped_.clear();
  const UserText path = UserText::verbatim(defaults_.path());
  if (const auto why = defaults_.refusal()) {
    readProblem_ = UserText(
        QT_TRANSLATE_NOOP("Messages", "Couldn't read your settings (%1: %2). The defaults apply, and the file is left as it is."),
        {path, UserText::verbatim(*why)});
  } else {
    QStringList dropped;
    if (const auto lines = defaults_.droppedLines()) dropped.append(*lines);
    for (const QString& key : defaults_.keys()) {
      if (key.endsWith(kUnreadableSuffix)) continue;
      bool readable = true;
      if (key == kPresets) {
        const auto presets = parse(key, true);
        readable = presets && presets->array().size() <= kMaxPresets;
        for (qsizetype i = 0; readable && i < presets->array().size(); ++i) {
          readable = presets->array().at(i).toObject().value("name").toString().size() <= kMaxPresetNameLength;
        }
      } else if (key == kPreferredCamera) {
        readable = loadPreferredCamera().has_value();
      } else if (key.startsWith(kSettingsPrefix)) {
        readable = parse(key, false).has_value();
      } else if (kBooleans.contains(key)) {
        readable = defaults_.boolean(key).has_value();
      }
      if (!readable) dropped.append(key);
    }
    dropped_ = std::set<QString>(dropped.begin(), dropped.end());
    kept_.clear();  // learned again when the values are loaded
    if (dropped.isEmpty()) return;
    const UserText what = UserText::verbatim(dropped.join(QStringLiteral(", ")));
    if (const auto copy = defaults_.keepUnreadableCopy()) {
      readProblem_ = UserText(QT_TRANSLATE_NOOP("Messages", "Some of your settings could not be read (%1: %2). The file as it was is kept as %3."),
                              {path, what, UserText::verbatim(*copy)});
    } else {
      readProblem_ = UserText(QT_TRANSLATE_NOOP("Messages", "Some of your settings could not be read (%1: %2), and no copy of the file could be kept: it is left as it is (%3)."),
                              {path, what, UserText::verbatim(defaults_.writeRefusal().value_or(QString()))});
    }
  }
  // Once for each content: reading the same file again (another program touched it) says nothing new.
  if (!previous || previous->english() != readProblem_->english()) log::warning(log::Layer::model, readProblem_->english().toStdString());
}

Storage::Kept& Storage::kept(const QString& key) {
  if (!kept_.contains(key)) {
    // Saving a key never loaded: learn what it holds once.
    if (key == kPresets) {
      loadPresets();
    } else {
      const auto document = parse(key, false);
      if (document) kept_[key].unknownMembers = decodeControlMap(document->object()).unknown;
    }
  }
  return kept_[key];
}

std::optional<QJsonDocument> Storage::parse(const QString& key, bool array) {
  Kept& k = kept_[key];
  k = Kept{};
  const auto data = defaults_.data(key);
  if (!data) return std::nullopt;
  QJsonParseError error{};
  QJsonDocument document = QJsonDocument::fromJson(*data, &error);
  if (error.error != QJsonParseError::NoError || document.isArray() != array || document.isNull() ||
      holdsNonFinite(document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()))) {
    k.unreadableText = *data;
    return std::nullopt;
  }
  return document;
}

bool Storage::write(const QString& key, const QByteArray& json) {
  dropped_.erase(key);
  Kept& k = kept(key);
  if (!k.unreadableText && defaults_.data(key) == json) return false;
  if (k.unreadableText) {
    // Reported when the file was read (audit).
    defaults_.setData(key + kUnreadableSuffix, *k.unreadableText);
    k.unreadableText.reset();
  }
  defaults_.setData(key, json);
  return true;
}

std::optional<QList<Preset>> Storage::loadPresets() {
  const auto document = parse(kPresets, true);
  Kept& k = kept_[kPresets];
  if (!document) return std::nullopt;
  QList<Preset> presets;
  QUuid previous;
  for (const QJsonValue& value : document->array()) {
    if (auto preset = decodePreset(value)) {
      // Beyond the limits (a hand edit, an older version): the file's copy keeps the rest (audit).
      if (presets.size() == kMaxPresets) break;
      previous = preset->id;
      preset->name = trimmedName(std::move(preset->name));
      presets.append(std::move(*preset));
    } else {
      k.presetElements.append({previous, value});
    }
  }
  return presets;
}

void Storage::savePresets(const QList<Preset>& presets) {
  const Kept& k = kept(kPresets);
  auto keptAfter = [&](const QUuid& id, QJsonArray& array) {
    for (const auto& [anchor, value] : k.presetElements) {
      if (anchor == id) array.append(value);
    }
  };
  QJsonArray array;
  keptAfter(QUuid(), array);
  for (const Preset& preset : presets) {
    array.append(encodePreset(preset));
    // After the first preset of that id only: duplicates must not copy what was kept.
    if (std::find_if(presets.begin(), presets.end(), [&](const Preset& p) { return p.id == preset.id; }) == &preset) {
      keptAfter(preset.id, array);
    }
  }
  // Elements whose preset is gone keep their place at the end.
  for (const auto& [anchor, value] : k.presetElements) {
    const bool placed = anchor.isNull() || std::any_of(presets.begin(), presets.end(), [anchor = anchor](const Preset& p) { return p.id == anchor; });
    if (!placed) array.append(value);
  }
  write(kPresets, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

std::optional<CameraKey> Storage::loadPreferredCamera() {
  const auto document = parse(kPreferredCamera, false);
  if (!document) return std::nullopt;
  const QJsonObject object = document->object();
  const auto vendor = integerOf(object.value("vendorID"));
  const auto product = integerOf(object.value("productID"));
  auto isID = [](const std::optional<std::int64_t>& v) { return v && *v >= 0 && *v <= 0xFFFF; };
  if (!isID(vendor) || !isID(product)) return std::nullopt;
  return CameraKey{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

void Storage::savePreferredCamera(CameraKey key) {
  const QJsonObject object{{"vendorID", key.vendorID}, {"productID", key.productID}};
  write(kPreferredCamera, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<ControlValues> Storage::loadSettings(CameraKey key) {
  const QString name = settingsKey(key);
  const auto document = parse(name, false);
  if (!document) return std::nullopt;
  ControlMap map = decodeControlMap(document->object());
  kept_[name].unknownMembers = std::move(map.unknown);
  return map.values;
}

bool Storage::saveSettings(CameraKey key, const ControlValues& values) {
  const QString name = settingsKey(key);
  const QJsonObject object = encodeControlMap(values, kept(name).unknownMembers);
  return write(name, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<bool> Storage::loadBoolean(const QString& key) const { return defaults_.boolean(key); }

void Storage::saveBoolean(const QString& key, bool value) {
  dropped_.erase(key);
  defaults_.setBoolean(key, value);
}

}  // namespace velto
