// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What velto-ctl prints, from plain data, whether the data came from the camera itself or from the
// session's owner over the bus: one format for both.
#pragma once

#include <QList>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "capture/capture_commands.h"
#include "model/preset.h"
#include "uvc/camera_key.h"
#include "uvc/controls.h"

namespace velto::cli {

struct ListedCamera {
  std::string name;
  CameraKey key;
  std::uint32_t locationID = 0;
  std::string carrier;
  bool chosen = false;
  std::optional<std::string> problem;  // why it cannot be opened
};

struct ControlRow {
  ControlID id;
  std::optional<ControlRange> range;
  std::optional<std::int64_t> value;
  // The auto-exposure modes the camera offers (offeredModes, store_commands.h); empty otherwise.
  std::vector<std::int64_t> modes;
};

void printCameras(const std::vector<ListedCamera>& cameras, bool json, std::ostream& out);
void printControls(const std::vector<ControlRow>& rows, bool json, std::ostream& out);
// get's answer: what was read of `ids`, in their order, on `out`; each of `ids` that was not, on
// `err` with why (`failures`, else a plain "could not be read"). True when every one was read.
bool printReading(const std::vector<ControlID>& ids, const ControlValues& values,
                  const std::map<ControlID, std::string>& failures, bool json, std::ostream& out, std::ostream& err);
void printPresets(const QList<Preset>& presets, bool json, std::ostream& out);
// "on" or "off": whether the settings are kept locked.
void printLock(bool on, std::ostream& out);
// The result of stats, snapshot or calibrate (capture_commands.h says what it holds).
void printCapture(CaptureCommand::Kind kind, const QVariantMap& result, bool json, std::ostream& out);

}  // namespace velto::cli
