// The door unit's stream, served by httplib.
#pragma once

#include <httplib.h>

// Answers GET /video.mjpg: the stream, or an error page while the "error"
// fault is on.
void ServeVideo(const httplib::Request &request, httplib::Response &response);
// "ADDR:PORT" of the request's peer.
std::string Peer(const httplib::Request &request);
