// doorsim: stands in for the door unit on loopback. It serves the
// motion-JPEG stream with its in-band call flag and title, answers the relay
// command, and takes control commands (ring, title, faults) over HTTP under
// /sim/ and on standard input.
#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>

#include "sim_sip.h"
#include "sim_state.h"
#include "sim_stream.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] = R"(Usage: @NAME@ [options]

Stands in for the door unit: serves its motion-JPEG stream and relay command
over HTTP and takes control commands over HTTP and standard input.

Options:
  --listen ADDR:PORT   address to listen on (default 127.0.0.1:8080); port 0
                       picks a free port. The first line of standard output
                       is always "listening ADDR:PORT" with the real port.
  --size WxH           size of the generated picture (default 320x240)
  --fps F              parts per second on each stream (default 10); 0:
                       as fast as the client reads them
  --quality Q          JPEG quality of the generated picture (default 80)
  --frames DIR         send the *.jpg/*.jpeg files of DIR, in name order, in
                       a loop, instead of the generated picture
  --title TEXT         title at start (default "Vestibell door")
  --flag C             call flag at start (default 0)
  --ring-every S       start a ring by itself every S seconds (default 0:
                       never)
  --ring-length S      each such ring lasts S seconds (default 5; keep it
                       below --ring-every, or the rings run together)
  --seed N             seed of the garbage bytes and tiny-write sizes
                       (default 1); with the same seed and commands, a stream
                       is the same byte for byte
  --chunked            send the stream with chunked transfer encoding
                       (default: a plain body that ends when the connection
                       closes, as the door unit does)
  --record DIR         write, per stream connection I, DIR/stream-I.bin (every
                       body byte sent) and DIR/stream-I.txt (one line per part:
                       "part K flag F length L offset O title T", O being the
                       picture's offset in the .bin, and "fault NAME" lines)
  --log FILE           also append every log line to FILE
  --command CMD        run a control command at start (may be repeated)
  --sip ADDR:PORT      also be the door unit's SIP side: a user agent on
                       ADDR:PORT (UDP; port 0 picks a free one). The second
                       line of standard output is then "sip ADDR:PORT" with
                       the real port. Every call state is logged.
  --ring-sip URI       with --sip and --ring-every: each ring by itself also
                       calls URI over SIP, and hangs up when the ring is over
                       (a door unit rings both ways)
  --help               this text

HTTP:
  GET /video.mjpg                      the stream: parts of
                                       "--vestibell" CR LF
                                       "Content-Type: image/jpeg" CR LF
                                       "Content-Length: " digits
                                       CR LF "X-Ring-State: " flag
                                       CR LF "Title: " title
                                       CR LF CR LF jpeg CR LF
  GET /cgi-bin/remctrl.sh?id=relay1    switch relay 1 (200, logged)
  GET /cgi-bin/remctrl.sh?id=relay2    switch relay 2 (200, logged)
  GET /sim/COMMAND?PARAM=VALUE...      a control command (below); 200 with
                                       "ok ..." or 400 with "error: ..."

Control commands (standard input: one per line; HTTP: /sim/NAME with the
parameters in brackets):
  ring F               call flag F from now: 0 no call, 1 or 2 call, any
                       other single byte is sent as it is   [flag=F]
  title TEXT           title from now (may be empty or longer than 63
                       bytes; no CR or LF)                    [text=TEXT]
  drop                 close every open stream now
  drop-after N         close each stream after N parts (0: never) [n=N]
  stall S              every open stream sends half of its next part and
                       then nothing for S seconds            [seconds=S]
  garbage N            every open stream sends N random bytes before its
                       next part (default 300)               [bytes=N]
  error CODE [COUNT]   answer /video.mjpg with HTTP status CODE and an HTML
                       page, for the next COUNT requests (default: until
                       "error off")                  [code=CODE&count=COUNT]
  error off            answer /video.mjpg normally again      [code=off]
  tiny MAX [GAP]       write streams in pieces of 1 to MAX bytes, GAP ms
                       apart (default 0), so headers are cut anywhere
                                                      [max=MAX&gap=GAP]
  tiny off             write each part whole again            [max=off]
  badjpeg              the next part of every open stream has a picture
                       whose first byte is 0x00 instead of 0xFF
  nodigits             the next part of every open stream has no length
                       digits (its picture bytes still follow)
  longtitle [N]        the next part of every open stream has a title of N
                       bytes (default 100)                   [length=N]
  colour RRGGBB        from now the picture is of that colour alone (hex,
                       e.g. ff0000 for red), also instead of --frames
                                                             [rgb=RRGGBB]
  colour off           the usual picture again                  [rgb=off]
  reset                flag 0, the start title, the usual picture, and no
                       faults
  ring-sip URI         call URI over SIP (e.g. sip:pc@127.0.0.1:5060) [uri=URI]
  hangup               end every SIP call, ringing or answered
  sip-answer MODE [N]  incoming SIP calls: off (let them ring; default),
                       accept [DELAY_MS] or decline [404|480|486|603]
                                                      [mode=MODE&arg=N]
  sip-register USER PASSWORD HOST:PORT
                       register at a registrar, which is also the route of
                       every call             [user=U&password=P&registrar=R]
  sip-codec NAME       offer and accept only the audio codec NAME (PCMU,
                       G722, opus, speex/16000, ...); default: the library's
                       own choice again                          [name=NAME]
  sip-sound CAPTURE PLAYBACK
                       calls use these sound devices (the names of the
                       sound system, e.g. PulseAudio's device descriptions)
                       instead of silence and no output; every answered
                       call logs its codec ("sip audio codec PCMU/8000")
                                            [capture=CAPTURE&playback=PLAYBACK]
  status               counts as one JSON line: frames_sent, connections,
                       open_streams, relay1, relay2, error_pages, flag, title;
                       with --sip also sip_port, sip_in_call, sip_incoming,
                       sip_answered, sip_ended, sip_registered, sip_state
                       (idle, calling, ringing, in call, ended) and
                       sip_last_caller
  help                 the list of commands
  quit                 stop the simulator (standard input only; SIGINT and
                       SIGTERM stop it too)

Examples:
  @NAME@ --listen 127.0.0.1:0 --fps 5
  curl 'http://127.0.0.1:8080/sim/ring?flag=1'
  curl 'http://127.0.0.1:8080/sim/title?text=Front%20door'
  curl 'http://127.0.0.1:8080/sim/error?code=503&count=1'
  curl http://127.0.0.1:8080/sim/status
  echo 'tiny 5' | @NAME@   (or type commands while it runs)
)";

// The name it was started by: "doorsim" in the build tree,
// "vestibell-doorsim" once installed. Set first thing in main.
std::string g_name = "doorsim";

// The usage text under the name it was started by.
std::string Usage() {
  std::string text = kUsage;
  for (std::size_t at; (at = text.find("@NAME@")) != std::string::npos;)
    text.replace(at, 6, g_name);
  return text;
}

// Set by main while the server runs; the signal and input threads stop it.
std::atomic<httplib::Server *> g_server{nullptr};

void Stop() {
  if (g_stopping.exchange(true))
    return;
  if (httplib::Server *server = g_server.load())
    server->stop();
}

void ReadStandardInput() {
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line == "quit") {
      Log("quit");
      Stop();
      return;
    }
    if (line == "help") {
      Print(Usage());
      continue;
    }
    std::string answer = RunLine(line);
    if (!answer.empty())
      Print(answer);
  }
}

void ServeRelay(const httplib::Request &request, httplib::Response &response) {
  std::string id = request.get_param_value("id");
  Log("relay request id=" + id + " from " + Peer(request));
  if (id == "relay1")
    ++g_relay1;
  else if (id == "relay2")
    ++g_relay2;
  else {
    response.status = 400;
    response.set_content("unknown relay\n", "text/plain");
    return;
  }
  response.set_content(id + " switched\n", "text/plain");
}

// Parameter names of each command, in argument order.
const std::vector<std::pair<std::string, std::vector<std::string>>>
    kCommandParams = {
        {"ring", {"flag"}},
        {"title", {"text"}},
        {"drop", {}},
        {"drop-after", {"n"}},
        {"stall", {"seconds"}},
        {"garbage", {"bytes"}},
        {"error", {"code", "count"}},
        {"tiny", {"max", "gap"}},
        {"badjpeg", {}},
        {"nodigits", {}},
        {"longtitle", {"length"}},
        {"colour", {"rgb"}},
        {"reset", {}},
        {"ring-sip", {"uri"}},
        {"hangup", {}},
        {"sip-answer", {"mode", "arg"}},
        {"sip-register", {"user", "password", "registrar"}},
        {"sip-codec", {"name"}},
        {"sip-sound", {"capture", "playback"}},
};

void ServeControl(const httplib::Request &request,
                  httplib::Response &response) {
  std::string name = request.matches[1];
  if (name == "status") {
    response.set_content(StatusJson() + "\n", "application/json");
    return;
  }
  auto known = std::find_if(kCommandParams.begin(), kCommandParams.end(),
                            [&](const auto &c) { return c.first == name; });
  if (known == kCommandParams.end()) {
    response.status = 404;
    response.set_content("error: unknown command " + name + "\n", "text/plain");
    return;
  }
  std::vector<std::string> args;
  for (const std::string &param : known->second) {
    if (!request.has_param(param.c_str()))
      break;
    args.push_back(request.get_param_value(param.c_str()));
  }
  if (name == "title" && args.empty())
    args.push_back("");
  std::string answer = RunCommand(name, args);
  Log("command " + name + " from " + Peer(request) + ": " + answer);
  if (answer.rfind("error", 0) == 0)
    response.status = 400;
  response.set_content(answer + "\n", "text/plain");
}

// --- automatic rings ---------------------------------------------------------

std::mutex g_ring_mutex;
std::condition_variable g_ring_wake;

void RingByItself() {
  auto every = std::chrono::duration<double>(g_options.ring_every);
  auto length = std::chrono::duration<double>(g_options.ring_length);
  std::unique_lock lock(g_ring_mutex);
  auto next = Clock::now() + std::chrono::duration_cast<Clock::duration>(every);
  while (!g_stopping) {
    if (g_ring_wake.wait_until(lock, next, [] { return g_stopping.load(); }))
      break;
    RunCommand("ring", {"1"});
    if (!g_options.ring_sip.empty() && !g_options.sip_host.empty())
      Log(RunCommand("ring-sip", {g_options.ring_sip}));
    Log("ringing by itself");
    if (g_ring_wake.wait_for(lock, length, [] { return g_stopping.load(); }))
      break;
    RunCommand("ring", {"0"});
    if (!g_options.ring_sip.empty() && !g_options.sip_host.empty())
      RunCommand("hangup", {});
    Log("ring over");
    next += std::chrono::duration_cast<Clock::duration>(every);
    next = std::max(next, Clock::now());
  }
}

// --- start-up ----------------------------------------------------------------

[[noreturn]] void Fail(const std::string &why) {
  std::fprintf(stderr, "%s: %s\n", g_name.c_str(), why.c_str());
  std::exit(2);
}

void ParseOptions(int argc, char **argv) {
  Options &o = g_options;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(Usage().c_str(), stdout);
      std::exit(0);
    }
    if (option == "--chunked") {
      o.chunked = true;
      continue;
    }
    static const char *const kWithValue[] = {
        "--listen", "--size", "--fps",        "--quality",     "--frames",
        "--title",  "--flag", "--ring-every", "--ring-length", "--seed",
        "--record", "--log",  "--command",    "--sip",         "--ring-sip"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), option) ==
        std::end(kWithValue))
      Fail("unknown option " + option + " (see --help)");
    if (i + 1 >= argc)
      Fail("option " + option + " needs a value (see --help)");
    std::string value = argv[++i];
    int number = 0;
    if (option == "--listen") {
      std::size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 ||
          !ParseInt(value.substr(colon + 1), number, 0, 65535))
        Fail("--listen takes ADDR:PORT, e.g. 127.0.0.1:8080");
      o.host = value.substr(0, colon);
      o.port = number;
    } else if (option == "--size") {
      int w = 0, h = 0;
      std::size_t x = value.find('x');
      if (x == std::string::npos ||
          !ParseInt(value.substr(0, x), w, 16, 4096) ||
          !ParseInt(value.substr(x + 1), h, 16, 4096))
        Fail("--size takes WxH, each 16 to 4096");
      o.size = {w, h};
    } else if (option == "--fps") {
      if (!ParseSeconds(value, o.fps) || (o.fps != 0 && o.fps < 0.01) ||
          o.fps > 1000)
        Fail("--fps takes 0.01 to 1000, or 0");
    } else if (option == "--quality") {
      if (!ParseInt(value, o.quality, 1, 100))
        Fail("--quality takes 1 to 100");
    } else if (option == "--frames") {
      o.frames_dir = value;
    } else if (option == "--title") {
      if (value.find_first_of("\r\n") != std::string::npos)
        Fail("--title holds no CR or LF");
      o.title = value;
    } else if (option == "--flag") {
      if (value.size() != 1)
        Fail("--flag takes one byte");
      o.flag = value[0];
    } else if (option == "--ring-every") {
      if (!ParseSeconds(value, o.ring_every))
        Fail("--ring-every takes seconds");
    } else if (option == "--ring-length") {
      if (!ParseSeconds(value, o.ring_length))
        Fail("--ring-length takes seconds");
    } else if (option == "--seed") {
      if (!ParseInt(value, number, 0, 2147483647))
        Fail("--seed takes a number");
      o.seed = static_cast<unsigned long>(number);
    } else if (option == "--record") {
      o.record_dir = value;
    } else if (option == "--log") {
      o.log_file = value;
    } else if (option == "--command") {
      o.commands.push_back(value);
    } else if (option == "--sip") {
      std::size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 ||
          !ParseInt(value.substr(colon + 1), number, 0, 65535))
        Fail("--sip takes ADDR:PORT, e.g. 127.0.0.1:5062");
      o.sip_host = value.substr(0, colon);
      o.sip_port = number;
    } else if (option == "--ring-sip") {
      if (value.rfind("sip:", 0) != 0)
        Fail("--ring-sip takes a SIP address, e.g. sip:pc@127.0.0.1:5060");
      o.ring_sip = value;
    } else {
      Fail("unknown option " + option + " (see --help)");
    }
  }
}

void LoadFolderFrames() {
  if (g_options.frames_dir.empty())
    return;
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto &entry :
       fs::directory_iterator(g_options.frames_dir, error)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (entry.is_regular_file() && (ext == ".jpg" || ext == ".jpeg"))
      files.push_back(entry.path());
  }
  if (error)
    Fail("cannot read " + g_options.frames_dir + ": " + error.message());
  std::sort(files.begin(), files.end());
  for (const auto &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)),
                      std::istreambuf_iterator<char>());
    if (!bytes.empty())
      g_folder_frames.push_back(std::move(bytes));
  }
  if (g_folder_frames.empty())
    Fail("no JPEG files in " + g_options.frames_dir);
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 0 && argv[0] != nullptr && *argv[0] != '\0')
    g_name = fs::path(argv[0]).filename().string();
  ParseOptions(argc, argv);
  LoadFolderFrames();
  if (!g_options.record_dir.empty()) {
    std::error_code error;
    fs::create_directories(g_options.record_dir, error);
    if (error)
      Fail("cannot create " + g_options.record_dir);
  }
  if (!g_options.log_file.empty() && !OpenLogFile(g_options.log_file))
    Fail("cannot open " + g_options.log_file);
  ResetSettings();

  // Signals are taken by a thread of their own, which may stop the server;
  // a client that goes away must not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  httplib::Server server;
  g_server = &server;
  // Every open stream holds a worker for as long as it lasts; leave plenty
  // for control requests and relay commands beside them.
  server.new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.set_tcp_nodelay(true);
  server.Get("/video.mjpg", ServeVideo);
  server.Get("/cgi-bin/remctrl.sh", ServeRelay);
  server.Get(R"(/sim/([a-z-]+))", ServeControl);
  server.Post(R"(/sim/([a-z-]+))", ServeControl);

  int port = g_options.port;
  if (port == 0)
    port = server.bind_to_any_port(g_options.host);
  else if (!server.bind_to_port(g_options.host, port))
    port = -1;
  if (port <= 0)
    Fail("cannot listen on " + g_options.host + ":" +
         std::to_string(g_options.port));
  Print("listening " + g_options.host + ":" + std::to_string(port));
  if (!g_options.sip_host.empty()) {
    if (!StartSip(g_options.sip_host, g_options.sip_port))
      Fail("cannot start SIP on " + g_options.sip_host + ":" +
           std::to_string(g_options.sip_port));
    Print("sip " + g_options.sip_host + ":" + std::to_string(SipPort()));
  }

  for (const std::string &command : g_options.commands) {
    std::string answer = RunLine(command);
    if (answer.rfind("error", 0) == 0)
      Fail("--command " + command + ": " + answer);
  }

  std::thread([stop_signals] {
    int signal = 0;
    sigwait(&stop_signals, &signal);
    Log(std::string("stopping on ") +
        (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    Stop();
  }).detach();
  std::thread(ReadStandardInput).detach();
  std::thread ringer;
  if (g_options.ring_every > 0)
    ringer = std::thread(RingByItself);

  server.listen_after_bind();
  g_stopping = true;
  {
    std::lock_guard lock(g_ring_mutex);
    g_ring_wake.notify_all();
  }
  if (ringer.joinable())
    ringer.join();
  g_server = nullptr;
  StopSip();
  Log("stopped");
  return 0;
}
