// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The application shell on the offscreen platform, without a session bus (it then runs the store on
// its own) and with its settings in a temporary directory: what it keeps of the tray's panel and
// of the main window once they close.
#include "app/application.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>

#include "app/menu_bar_view.h"
#include "views/main_window.h"

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

// The window may stay closed for days as well: closed to the tray it goes, and the next opening
// makes a new one where the last one was, at its size.
TEST(VeltoCameraApp, LetsTheWindowGoOnceItClosesAndOpensItAgainAsItWas) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  const bool quitOnClose = QApplication::quitOnLastWindowClosed();
  QApplication::setQuitOnLastWindowClosed(false);  // as with a tray
  VeltoCameraApp velto{VeltoCameraApp::Options{}};
  ASSERT_TRUE(velto.isOwner());

  // Activated with a token, as a second start hands it over: spent once the window is asked to
  // come forward, so nothing started later inherits it.
  qputenv("DESKTOP_STARTUP_ID", "launcher-1");
  velto.Activate({{QStringLiteral("activation-token"), QStringLiteral("token-1")}});
  EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
  EXPECT_FALSE(qEnvironmentVariableIsSet("DESKTOP_STARTUP_ID"));
  QPointer<views::MainWindow> first = velto.window();
  ASSERT_TRUE(first && first->isVisible());
  QCoreApplication::processEvents();
  // Away from where a new window opens: the offscreen screen (800 × 600) is narrower than the
  // window's least width and lower than its default height.
  first->resize(first->minimumSize() + QSize(0, 10));
  first->move(0, 10);
  const QRect geometry = first->geometry();
  first->close();  // as the title bar's button or Ctrl+W closes it
  QCoreApplication::processEvents();
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(velto.window(), nullptr);

  velto.showWindow();
  ASSERT_NE(velto.window(), nullptr);
  QCoreApplication::processEvents();
  EXPECT_TRUE(velto.window()->isVisible()) << "opens again";
  EXPECT_EQ(velto.window()->geometry(), geometry);
  // Closed and opened again before the event loop ran: the window on screen stays.
  QPointer<views::MainWindow> second = velto.window();
  second->close();
  velto.showWindow();
  QCoreApplication::processEvents();
  EXPECT_EQ(velto.window(), second.data());
  EXPECT_TRUE(second && second->isVisible());
  QApplication::setQuitOnLastWindowClosed(quitOnClose);
}

}  // namespace
}  // namespace velto::app
