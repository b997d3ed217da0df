// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// login_item_entry DIR EXECUTABLE [ARGUMENT...]: writes the launch-at-login entry exactly as the
// application does (LoginItem) into DIR, so check_install.sh can compare it with the installed one.
#include <QStringList>
#include <cstdio>

#include "platform/session/login_item.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: login_item_entry DIR EXECUTABLE [ARGUMENT...]\n");
    return 1;
  }
  QStringList arguments;
  for (int i = 3; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  velto::LoginItem item(QString::fromLocal8Bit(argv[2]), arguments, QString::fromLocal8Bit(argv[1]));
  if (const auto error = item.registerItem()) {
    std::fprintf(stderr, "login_item_entry: %s\n", qPrintable(*error));
    return 1;
  }
  std::printf("%s\n", qPrintable(item.entryPath()));
  return 0;
}
