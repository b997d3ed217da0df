// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// References to GStreamer objects that give themselves back: each handle owns one reference
// (adopted, as the functions returning a new reference hand it over) and releases it when it
// goes. For the capture session's source files; GStreamer's types stay out of other headers.
#pragma once

#include <gst/gst.h>

#include <memory>

namespace velto::video::gst {

struct ObjectUnref {
  void operator()(gpointer object) const { gst_object_unref(object); }
};
struct CapsUnref {
  void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct Free {
  void operator()(gpointer memory) const { g_free(memory); }
};

using ElementRef = std::unique_ptr<GstElement, ObjectUnref>;
using PadRef = std::unique_ptr<GstPad, ObjectUnref>;
using BusRef = std::unique_ptr<GstBus, ObjectUnref>;
using CapsRef = std::unique_ptr<GstCaps, CapsUnref>;
using Text = std::unique_ptr<gchar, Free>;

}  // namespace velto::video::gst
