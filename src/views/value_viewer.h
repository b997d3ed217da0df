// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A view that shows control values tells the store while it is on screen, so that the camera is
// read back often only while somebody looks (CameraStore::setShowingValues).
//
// While a reset has the camera off the bus (from its leaving until it has been read again, or the
// reset is over), rows keep what they showed, greyed, instead of vanishing with its controls: the
// same camera coming back then changes only what differs, not every row's visibility and layout.
#pragma once

class QWidget;

namespace velto {
class CameraStore;
}

namespace velto::views {

// From now on `view`'s showing and hiding, and its end, reach `store`, which must outlive it.
void reportShowingValues(QWidget* view, CameraStore& store);

// Whether a reset has the camera off the bus, by the definition above.
bool isAwayForReset(const CameraStore& store);
// For a row's render: greys `row` and returns true while the camera is away for a reset (the row
// then leaves the rest as it is); otherwise enables it and returns false.
bool holdWhileAway(QWidget& row, const CameraStore& store);

}  // namespace velto::views
