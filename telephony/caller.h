// Who is calling, from the caller's SIP address, and whether two door-unit
// addresses are the same. Plain text in, no library.
#pragma once

#include <cstddef>

constexpr std::size_t kCallerFieldSize = 64;

// Splits `from` ("sip:door@192.168.1.250:5060", perhaps with a display name
// and angle brackets) into the user part and the host part (without port,
// parameters or closing bracket), each cut to 63 characters and always
// terminated. A null `from` gives two empty fields.
void ParseCaller(const char *from, char (&name)[kCallerFieldSize],
                 char (&ip)[kCallerFieldSize]);

// The host of a door unit's address as IP_addr holds it ("192.0.2.10",
// "192.0.2.10:8080", "door.local:8080", "[2001:db8::10]:8080"): the text
// before the port, a bracketed IPv6 literal with its brackets. Cut to 63
// characters and always terminated; a null address gives an empty host.
void DoorHost(const char *address, char (&host)[kCallerFieldSize]);

// 0 when the two dotted addresses are numerically equal field by field,
// else -1. A null text reads as the empty text.
int cmp_ip(const char *ip1, const char *ip2);

// Whether two door-unit addresses (IP_addr) name the same stream: the same
// text, or two bare dotted IPv4 addresses that cmp_ip finds equal. Any
// other difference (a port, a host name) is another door unit.
bool SameDoorAddress(const char *a, const char *b);

// Whether a copy's door-unit identity names the caller: with a SIP server
// the identity is the caller's user part exactly (case and all), without
// one it is an address equal to the caller's host by cmp_ip.
bool DoorIdMatches(bool useSip, const char *identity, const char *name,
                   const char *ip);
