// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

/* Compiled as C: the transport header must stay usable from plain C. */
#include "cuvc/cuvc.h"

int cuvc_c_client_compiles(void) {
  cuvc_info info = {0};
  cuvc_handle* handle = cuvc_open((const cuvc_service*)0, &info);
  cuvc_close(handle);
  return (int)sizeof info;
}
