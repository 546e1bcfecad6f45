// Desktop notifications: the desktop's notification server, reached over
// the session bus, shows short notices beside whatever the user is doing,
// with buttons ("actions") the user may press. Without a bus or a server
// nothing is shown and each call does nothing; a server that lacks
// actions, a body or images gets the notice without them. Either is said
// once on standard error.
//
// Threads: every function is for the window thread. The bus is spoken to
// on a thread of its own, so nothing here waits for the server; what the
// user does with a notice comes back to the window thread through the
// handlers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

enum class NoticeUrgency : unsigned char { Low = 0, Normal = 1, Critical = 2 };

struct NoticeAction {
  std::string key;   // "default": what a click on the notice itself does
  std::string label; // plain text
};

struct Notice {
  // Plain text, as the window's titles take it (8-bit, each byte one
  // character): never read as markup.
  std::string summary;
  std::string body;
  // A JPEG picture shown with the notice, scaled down; null for none.
  std::shared_ptr<const std::vector<std::uint8_t>> picture;
  NoticeUrgency urgency = NoticeUrgency::Normal;
  std::vector<NoticeAction> actions;
  // Stays when an action is pressed, until the user dismisses it.
  bool resident = false;
  int expireMs = -1; // -1: as the server likes; 0: never
};

// Why a notice went (the server's reasons).
enum class NoticeGone { Expired = 1, Dismissed = 2, Closed = 3, Other = 4 };

struct NoticeHandlers {
  void (*action)(unsigned notice, const std::string &key) = nullptr;
  void (*gone)(unsigned notice, NoticeGone why) = nullptr;
};

// Connects to the session bus on a thread of its own and asks the server
// what it offers. `appName` names the program to the server; `iconPng`
// (the program's icon, PNG bytes that outlive the program) goes with every
// notice. Once; after Initialize.
void StartNotices(const char *appName, const NoticeHandlers &handlers,
                  const std::uint8_t *iconPng, std::size_t iconSize);

// Shows a notice; returns its number (never 0), by which it is replaced or
// closed. A notice that comes before the server has said what it offers
// waits for that.
unsigned ShowNotice(const Notice &notice);
// Replaces notice `number` in place (a new one when it is gone already).
void ReplaceNotice(unsigned number, const Notice &notice);
// Closes notice `number`; nothing when it is gone.
void CloseNotice(unsigned number);

// Closing: closes the notices given here (the others stay, as the server
// keeps them) and ends the bus's thread, waiting at most `ms`.
void StopNotices(const std::vector<unsigned> &closing, unsigned ms);

} // namespace plat
