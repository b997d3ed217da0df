// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The application shell on the offscreen platform, without a session bus (it then runs the store on
// its own) and with its settings in a temporary directory: what it keeps of the tray's panel.
#include "app/application.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTemporaryDir>

#include "app/menu_bar_view.h"

namespace velto::app {
namespace {

// The panel is opened now and then and may stay closed for days: closed, nothing of it (its
// picture, its backing store) stays in memory, and the next opening makes a new one.
TEST(VeltoCameraApp, LetsThePanelGoOnceItCloses) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  VeltoCameraApp velto{VeltoCameraApp::Options{}};
  ASSERT_TRUE(velto.isOwner());

  velto.togglePanel();
  QPointer<MenuBarView> first = velto.panel();
  ASSERT_TRUE(first && first->isVisible());
  first->close();  // as Escape or a click outside closes it
  QCoreApplication::processEvents();
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(velto.panel(), nullptr);

  velto.togglePanel();
  ASSERT_NE(velto.panel(), nullptr);
  EXPECT_TRUE(velto.panel()->isVisible()) << "opens again";
  // Hidden and shown again before the event loop ran: the panel on screen stays.
  velto.panel()->hide();
  velto.togglePanel();
  QCoreApplication::processEvents();
  ASSERT_NE(velto.panel(), nullptr);
  EXPECT_TRUE(velto.panel()->isVisible());
}

}  // namespace
}  // namespace velto::app
