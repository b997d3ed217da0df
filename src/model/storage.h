// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What the store keeps across launches, in the user defaults, with its exact keys and JSON:
//   "presets"             [{"id":"<UUID, upper case>","name":"...","values":{<control map>}}, ...]
//   "preferredCamera"     {"vendorID":10522,"productID":13161}
//   "settings.291a:3369"  {"brightness":128,"autoExposure":1,...}   wanted values per camera model
//   "keepLocked", "openWindowAtLaunch"   booleans
// Control maps name controls by their catalogue names.
//
// Nothing this version cannot read is destroyed by a save. A member naming no known control or
// holding no integer, a preset element that is not a whole preset (no UUID, a name that is not
// text, a stray value), and members of a preset beside id, name and values are all kept and
// written back unchanged, in their place. A value that is not JSON at all (a syntax error, a
// truncated file, a number beyond any integer) loads as absent and the caller's default applies;
// the first save that replaces it first keeps its old text under the key + ".unreadable".
//
// Reading the file (at construction and reload) looks at every value once. What it drops (a
// value that is not JSON or not of its key's shape, a boolean that is neither true nor false,
// presets beyond kMaxPresets, names beyond kMaxPresetNameLength characters, which are trimmed,
// lines the INI reader skips) leaves a copy of the file as it was beside it
// (UserDefaults::keepUnreadableCopy) and one message (readProblem, logged as a warning); so does a
// file that is not read at all, which is left as it is. The next sync() moves a dropped value that
// nothing replaced beside its key (".unreadable") and trims the presets, so that the file as
// written reads whole and a later reading copies nothing again.
//
// A Storage remembers what it learned of each key on loading, so that saving (every slider step)
// never parses the stored value again. Main thread, like the defaults under it.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUuid>
#include <map>
#include <optional>
#include <set>

#include "model/preset.h"
#include "support/user_text.h"
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
  explicit Storage(UserDefaults& defaults);

  static QString settingsKey(CameraKey key);  // "settings." + "%04x:%04x"

  std::optional<QList<Preset>> loadPresets();
  void savePresets(const QList<Preset>& presets);

  std::optional<CameraKey> loadPreferredCamera();
  void savePreferredCamera(CameraKey key);

  // The wanted values of a camera model; none when absent or unreadable.
  std::optional<ControlValues> loadSettings(CameraKey key);
  // False when the defaults held exactly these values already: nothing was changed for sync().
  bool saveSettings(CameraKey key, const ControlValues& values);

  std::optional<bool> loadBoolean(const QString& key) const;
  void saveBoolean(const QString& key, bool value);

  // Reads the file afresh, forgetting what was learned and what was not yet written.
  void reload();
  // What the last (re)load could not use, for the user; none when it read everything.
  const std::optional<UserText>& readProblem() const { return readProblem_; }

  // Writes what was saved to the file now; why not, when that failed. Blocks for a file write.
  std::optional<QString> sync();
  QString path() const;

 private:
  // What a stored value held that this version cannot read, learned when it was loaded.
  struct Kept {
    QJsonObject unknownMembers;  // control maps
    // Preset elements that are not whole presets, each with the preset it followed (null: first).
    QList<std::pair<QUuid, QJsonValue>> presetElements;
    std::optional<QByteArray> unreadableText;  // not JSON at all: set aside before it is replaced
  };

  // The stored JSON under `key` when it parses as an array (else an object); otherwise none, and
  // the text is remembered to be set aside before it is replaced.
  std::optional<QJsonDocument> parse(const QString& key, bool array);
  Kept& kept(const QString& key);
  // Writes `json` under `key`, first setting aside a value that could not be read; false when the
  // key held `json` already, which is then left alone (the defaults would write their file again
  // for it).
  bool write(const QString& key, const QByteArray& json);
  // Looks at every value of the file just read for what loading would drop (readProblem).
  void audit();

  UserDefaults& defaults_;
  std::map<QString, Kept> kept_;
  std::optional<UserText> readProblem_;
  std::set<QString> dropped_;  // keys whose value the last reading dropped and nothing has replaced
};

}  // namespace velto
