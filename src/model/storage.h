// What the store keeps across launches, in the user defaults, with its exact keys and JSON:
//   "presets"             [{"id":"<UUID, upper case>","name":"...","values":{<control map>}}, ...]
//   "preferredCamera"     {"vendorID":10522,"productID":13161}
//   "settings.291a:3369"  {"brightness":128,"autoExposure":1,...}   wanted values per camera model
//   "keepLocked", "openWindowAtLaunch"   booleans
// Control maps name controls by their catalogue names. Reading never fails as a whole: a member
// naming no known control is kept aside and written back with the next save, a value that is not
// an integer is skipped, and a preset lacking its id, name or values is skipped while the others
// load. Missing or unreadable data loads as absent and the caller's default applies.
//
// Main thread, like the defaults under it.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

#include "model/preset.h"
#include "uvc/camera_key.h"
#include "uvc/controls.h"

namespace velto {

class UserDefaults;

// A decoded control map and the members it could not place.
struct ControlMap {
  ControlValues values;
  QJsonObject unknown;
};

ControlMap decodeControlMap(const QJsonObject& object);
QJsonObject encodeControlMap(const ControlValues& values, const QJsonObject& unknown = {});

class Storage {
 public:
  explicit Storage(UserDefaults& defaults) : defaults_(defaults) {}

  static QString settingsKey(CameraKey key);  // "settings." + "%04x:%04x"

  std::optional<QList<Preset>> loadPresets() const;
  void savePresets(const QList<Preset>& presets);

  std::optional<CameraKey> loadPreferredCamera() const;
  void savePreferredCamera(CameraKey key);

  // The wanted values of a camera model; none when absent or unreadable.
  std::optional<ControlValues> loadSettings(CameraKey key) const;
  // Replaces them, keeping any members of the stored map that name no known control.
  void saveSettings(CameraKey key, const ControlValues& values);

  std::optional<bool> loadBoolean(const QString& key) const;
  void saveBoolean(const QString& key, bool value);

 private:
  std::optional<QJsonObject> loadObject(const QString& key) const;
  UserDefaults& defaults_;
};

}  // namespace velto
