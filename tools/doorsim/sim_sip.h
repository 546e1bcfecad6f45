// The door unit's SIP side: a user agent on loopback that calls the PC,
// answers or declines its calls, hangs up, and registers at a registrar.
#pragma once

#include <string>
#include <vector>

// Starts the user agent on host:port (port 0: a free one). False when it
// cannot; the port it got comes from SipPort.
bool StartSip(const std::string &host, int port);
void StopSip();
int SipPort();
// Whether `name` is a SIP command, and running it ("ok ..." or "error: ...").
bool IsSipCommand(const std::string &name);
std::string RunSipCommand(const std::string &name,
                          const std::vector<std::string> &args);
// The SIP figures of the status line, as JSON members without braces
// (empty without --sip).
std::string SipStatusJson();
