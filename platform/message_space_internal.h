// What the two halves of the message space share: the sockets' reading and
// writing, and the window thread's serving of what arrives. Not for use
// outside platform/.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/message_frame.h"
#include "platform/window_internal.h"

namespace plat::space {

using Clock = std::chrono::steady_clock;

// One line on standard error, "message space: what: detail".
void Log(const char *what, const std::string &detail);
// Milliseconds until `deadline`, 0 once it has passed.
int RemainingMs(Clock::time_point deadline);
// Writes all of `bytes` before the deadline.
bool WriteAll(int fd, const std::vector<unsigned char> &bytes,
              Clock::time_point deadline);

enum class ReadResult { Frame, Waiting, Closed, Malformed };
// Reads what `fd` has of the frame begun in `bytes`, never waiting, and
// never more than the frame needs. Closed: the peer ended its side (with
// `bytes` holding what it sent of an incomplete frame).
ReadResult ReadSome(int fd, std::vector<unsigned char> &bytes,
                    MessageFrame *frame);

// Only registered messages and copy-data travel between processes; the
// window system's own messages stay in the process that owns the window.
bool Travels(UINT message);

// The window that joined the space, and its handle value; null when none.
Window *JoinedWindow(LPARAM *value);

// The window thread's serving of the listening socket `listenFd` through
// the epoll set `pollFd` (which holds it): taken over by StartServing,
// closed by StopServing.
void StartServing(int listenFd, int pollFd);
void StopServing();
bool Serving();
// The epoll set, or -1: a send waiting for its answer watches it, so that
// what is sent to this window meanwhile is served.
int ServingPollFd();
// Serves what has come. Window thread; also from within a handler that
// waits in a send.
void ServeIncoming();

} // namespace plat::space
