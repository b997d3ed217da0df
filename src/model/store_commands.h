// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What a command to change the camera or the presets does, whoever asks: velto-ctl with a store of
// its own, or the session's owner on behalf of a velto-ctl that reached it over the bus. One set
// of checks, one way to carry the command out, one outcome in words, so that both paths answer
// alike. Main thread.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "model/preset.h"
#include "uvc/camera_key.h"
#include "uvc/controls.h"

namespace velto {

class CameraStore;

// What came of a command: an exit code as velto-ctl documents it and, unless it succeeded, a
// sentence saying why (without the program's name in front).
struct CommandOutcome {
  // unavailable: the camera's picture cannot be had (no access, in use elsewhere, no video device).
  enum Code : int { ok = 0, noCamera = 2, invalid = 3, cameraFailed = 4, unavailable = 5, saveFailed = 6 };
  int code = ok;
  QString message;
};

struct ChangeCommand {
  enum class Kind { set, autoMode, defaults, refocus, reset, presetSave, presetApply, presetUpdate, presetRename, presetDelete };
  Kind kind = Kind::set;
  ControlValues values;              // set
  std::vector<ControlID> controls;   // autoMode: the auto control; defaults: those named (all when empty)
  bool on = false;                   // autoMode
  QString preset;                    // presetSave: the new name; the others: a preset's name or id
  QString newName;                   // presetRename
  std::optional<CameraKey> camera;   // the model the caller insists on
};

// A preset's name as the application takes it: spaces and tabs around it removed; none when blank.
std::optional<QString> presetName(const QString& text);

// The index of the preset called `nameOrId` (names first, then ids), or none.
std::optional<qsizetype> findPreset(const QList<Preset>& presets, const QString& nameOrId);

// Why one of `values` can be no camera's value (an auto mode that no camera has); none when all can.
std::optional<QString> impossibleValue(const ControlValues& values);

// The auto-exposure modes the camera offers, in ascending order, as the store's accepts() takes
// them (every UVC mode while the camera has not said); empty for every other control.
std::vector<std::int64_t> offeredModes(ControlID id, const ControlRange* range);

// The controls a store made for `command` alone has to read when it connects: those the command
// names and the auto modes and manual controls that go with them (a manual value written under
// its auto mode, the value an auto mode switched off hands to the camera). None when the command
// needs every control (presets, a reset, all defaults).
std::optional<std::vector<ControlID>> controlsToRead(const ChangeCommand& command);

// Carries `command` out on `store`, which has settled on its camera (or on none), and calls
// `done` once it is done: changes sent and their failures collected, settings saved to the file.
void runChange(CameraStore& store, const ChangeCommand& command, std::function<void(CommandOutcome)> done);

}  // namespace velto
