#include "model/storage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

#include "platform/session/user_defaults.h"

namespace velto {
namespace {

const QString kPresets = QStringLiteral("presets");
const QString kPreferredCamera = QStringLiteral("preferredCamera");

// JSON numbers arrive as doubles: accept only those that are whole and within 64 bits.
std::optional<std::int64_t> integerOf(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double d = value.toDouble();
  if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.0e15) return std::nullopt;
  return static_cast<std::int64_t>(d);
}

std::optional<Preset> decodePreset(const QJsonValue& value) {
  const QJsonObject object = value.toObject();
  const QJsonValue id = object.value("id");
  const QJsonValue name = object.value("name");
  const QJsonValue values = object.value("values");
  if (!id.isString() || !name.isString() || !values.isObject()) return std::nullopt;
  const QUuid uuid = QUuid::fromString(id.toString());
  if (uuid.isNull()) return std::nullopt;
  ControlMap map = decodeControlMap(values.toObject());
  return Preset{uuid, name.toString(), std::move(map.values), std::move(map.unknown)};
}

QJsonObject encodePreset(const Preset& preset) {
  QJsonObject object;
  object.insert("id", preset.id.toString(QUuid::WithoutBraces).toUpper());
  object.insert("name", preset.name);
  object.insert("values", encodeControlMap(preset.values, preset.unknownValues));
  return object;
}

}  // namespace

ControlMap decodeControlMap(const QJsonObject& object) {
  ControlMap map;
  for (auto it = object.begin(); it != object.end(); ++it) {
    const QByteArray name = it.key().toUtf8();
    const auto id = controlFromRawValue(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
    if (!id) {
      map.unknown.insert(it.key(), it.value());
      continue;
    }
    if (auto value = integerOf(it.value())) map.values[*id] = *value;
  }
  return map;
}

QJsonObject encodeControlMap(const ControlValues& values, const QJsonObject& unknown) {
  QJsonObject object = unknown;
  for (const auto& [id, value] : values) {
    object.insert(QString::fromUtf8(rawValue(id).data(), static_cast<qsizetype>(rawValue(id).size())),
                  static_cast<qint64>(value));
  }
  return object;
}

QString Storage::settingsKey(CameraKey key) {
  return QStringLiteral("settings.") + QString::fromStdString(key.hexString());
}

std::optional<QJsonObject> Storage::loadObject(const QString& key) const {
  const auto data = defaults_.data(key);
  if (!data) return std::nullopt;
  const QJsonDocument document = QJsonDocument::fromJson(*data);
  if (!document.isObject()) return std::nullopt;
  return document.object();
}

std::optional<QList<Preset>> Storage::loadPresets() const {
  const auto data = defaults_.data(kPresets);
  if (!data) return std::nullopt;
  const QJsonDocument document = QJsonDocument::fromJson(*data);
  if (!document.isArray()) return std::nullopt;
  QList<Preset> presets;
  for (const QJsonValue& value : document.array()) {
    if (auto preset = decodePreset(value)) presets.append(std::move(*preset));
  }
  return presets;
}

void Storage::savePresets(const QList<Preset>& presets) {
  QJsonArray array;
  for (const Preset& preset : presets) array.append(encodePreset(preset));
  defaults_.setData(kPresets, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

std::optional<CameraKey> Storage::loadPreferredCamera() const {
  const auto object = loadObject(kPreferredCamera);
  if (!object) return std::nullopt;
  const auto vendor = integerOf(object->value("vendorID"));
  const auto product = integerOf(object->value("productID"));
  auto isID = [](const std::optional<std::int64_t>& v) { return v && *v >= 0 && *v <= 0xFFFF; };
  if (!isID(vendor) || !isID(product)) return std::nullopt;
  return CameraKey{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

void Storage::savePreferredCamera(CameraKey key) {
  const QJsonObject object{{"vendorID", key.vendorID}, {"productID", key.productID}};
  defaults_.setData(kPreferredCamera, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<ControlValues> Storage::loadSettings(CameraKey key) const {
  const auto object = loadObject(settingsKey(key));
  if (!object) return std::nullopt;
  return decodeControlMap(*object).values;
}

void Storage::saveSettings(CameraKey key, const ControlValues& values) {
  const QString name = settingsKey(key);
  const QJsonObject unknown = loadObject(name).value_or(QJsonObject{});
  const QJsonObject object = encodeControlMap(values, decodeControlMap(unknown).unknown);
  defaults_.setData(name, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<bool> Storage::loadBoolean(const QString& key) const { return defaults_.boolean(key); }

void Storage::saveBoolean(const QString& key, bool value) { defaults_.setBoolean(key, value); }

}  // namespace velto
