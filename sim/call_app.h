// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// `velto-simcam ctl call-app`: a stand-in for a video-call application. It opens the simulated
// camera's video node (the file beside its socket), waits a moment as such programs do between
// opening the node and starting their stream, asks to stream, holds the stream for a while
// (reading and dropping its frames) and lets everything go.
#pragma once

#include <string>

namespace velto::sim {

struct CallAppOptions {
  int afterMs = 50;    // from opening the node to asking for the stream
  int holdMs = 3000;   // how long the stream is held once it started
  // Measures how soon the camera was free after the open: the alternate-setting file beside the
  // node reading 0 (nobody streams), looked at every millisecond until the stream is asked for.
  bool timing = false;
};

enum class CallAppResult {
  streaming,  // the camera streamed to it
  busy,       // another program streams from the camera
  failed,     // no such camera, or it answered something else; `error` says what
};

// Runs the call application against the camera `id` in `directory`. Blocks for about
// afterMs + holdMs. With `timing`, `freeAfterMs` is set to the milliseconds from the open to the
// camera being free, or -1 when it was not free before the stream was asked for.
CallAppResult runCallApp(const std::string& directory, const std::string& id, const CallAppOptions& options,
                         std::string* error, double* freeAfterMs = nullptr);

}  // namespace velto::sim
