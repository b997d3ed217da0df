// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Feeds arbitrary bytes as the settings file to what reads it: the descriptor check, QSettings's
// INI reader and Storage's JSON values. Beyond memory errors, a finding is a file that passes
// the limits on presets through, one read only in part without a copy of it as it was, or
// presets that do not come back the same after they are saved and read again.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/storage.h"
#include "platform/session/user_defaults.h"

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

QList<velto::Preset> presetsIn(const QString& path) {
  velto::UserDefaults defaults(path);
  velto::Storage storage(defaults);
  return storage.loadPresets().value_or(QList<velto::Preset>{});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool initialized = (qInstallMessageHandler(quiet), true);
  static QTemporaryDir dir;
  static int round = 0;
  (void)initialized;
  // A fresh name each time: QSettings keeps files it has read by name, size and time stamp.
  const QString path = dir.filePath(QStringLiteral("s%1.conf").arg(++round));
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) std::abort();
  }
  {
    velto::UserDefaults defaults(path);
    velto::Storage storage(defaults);
    if (defaults.refusal()) std::abort();  // a small regular file is always read
    const QList<velto::Preset> presets = storage.loadPresets().value_or(QList<velto::Preset>{});
    if (presets.size() > velto::kMaxPresets) std::abort();
    for (const velto::Preset& preset : presets) {
      if (preset.name.size() > velto::kMaxPresetNameLength) std::abort();
    }
    storage.loadPreferredCamera();
    storage.loadSettings({0x291A, 0x3369});
    storage.loadBoolean(QStringLiteral("keepLocked"));
    // Something dropped: the file as it was is kept beside it.
    if (storage.readProblem()) {
      QFile copy(path + QStringLiteral(".unreadable"));
      if (!copy.open(QIODevice::ReadOnly) || copy.readAll() != bytes) std::abort();
    }
    storage.savePresets(presets);
    storage.saveSettings({0x291A, 0x3369}, storage.loadSettings({0x291A, 0x3369}).value_or(velto::ControlValues{}));
    if (storage.sync()) std::abort();
    if (presetsIn(path) != presets) std::abort();
  }
  for (const QString& name : QDir(dir.path()).entryList(QDir::Files)) QFile::remove(dir.filePath(name));
  return 0;
}
