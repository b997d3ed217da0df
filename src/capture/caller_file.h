// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Files a caller hands over for a picture: the descriptor of a snapshot, sent over the session bus
// by whoever asks. The caller is a stranger to the owner: its descriptor may be anything, and the
// program at the other end of a pipe may read slowly, never, or leave halfway. The picture is
// written where the caller could write, never blocking on the descriptor.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

#include "support/cancel_token.h"

namespace velto {

// Why `fd` cannot take a picture: it is none, neither a regular file nor a pipe, or not open for
// writing. None when it can. Never blocks; any thread.
std::optional<QString> unwritableFile(int fd);

// Writes all of `bytes` into `fd` (at its offset) and returns 0, else the errno of the failure:
// ECANCELED once `cancel` is cancelled, ENXIO when nobody has the pipe open for reading, EPIPE when
// its reader left. A pipe is opened anew, non-blocking, through /proc (a description of its own:
// the caller's flags stay as they are) and waits for room with poll(2), so cancelling ends the
// write at once. Blocks its thread while it writes: a worker's, never the main thread.
int writeFully(int fd, const QByteArray& bytes, const CancelToken& cancel);

}  // namespace velto
