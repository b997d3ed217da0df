// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A view that shows control values tells the store while it is on screen, so that the camera is
// read back often only while somebody looks (CameraStore::setShowingValues).
#pragma once

class QWidget;

namespace velto {
class CameraStore;
}

namespace velto::views {

// From now on `view`'s showing and hiding, and its end, reach `store`, which must outlive it.
void reportShowingValues(QWidget* view, CameraStore& store);

}  // namespace velto::views
