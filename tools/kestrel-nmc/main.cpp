// kestrel-nmc: starts the NMC controller and prints every run state and
// every server and renderer context callback as it arrives, then runs the
// commands given as arguments (and, with -i, typed line by line), printing
// each response. It starts the network stack (SSDP multicast): run it only
// inside the test lab (tests/lab/lab.sh run kestrel-nmc ...).
//
//   kestrel-nmc [--local-renderer] [-i] [-t SECONDS] [-l LOGFILE] [COMMAND ...]
//     --local-renderer  register a fake host player as the local renderer
//     -i  after the arguments, read commands from standard input, one a line
//     -t  after the commands, keep printing callbacks for SECONDS (default 0)
//     -l  the controller's log file (default kestrel-nmc-log.txt)
//   A command is one of
//     <Xml .../>      an XML command request (lm_nmc_api_query)
//     sleep N         wait N seconds (callbacks keep printing)
//     a renderer command (renderer_cursor.cpp: renderers, renderer N|UDN,
//                     state, pause, resume, stop, seek, volume, mute, ...)
//     where, ls, cd [N], go N, up, home, search Q, sort S, meta, get KEY [N],
//     bookmark, goto BOOKMARK
//                     the server cursor on the tool's server context
//                     (dms_commands.cpp)
//     upload FILE PI [TITLE], upload-chunked FILE PI [TITLE],
//     upload-playlist FILE TYPE [TITLE]
//                     uploads into the server of the tool's server context
//                     (upload_commands.cpp)
//     queue-export FILE, queue-import FILE, download KEY FILE [N],
//     renderer-download KEY FILE [N], queue-download KEY FILE [N]
//                     queue playlist files and downloads (transfer_commands.cpp)
//     a queue command (queue_commands.cpp: queue, queue-add, queue-add-url,
//                     queue-play, queue-skip, queue-clear)
//     handoff FROM TO, search-all QUERY [ROWS]
//                     across renderers and servers (across_commands.cpp)
//     NAME [ARG]      an ioctl: names starting "DMR" go to lm_dmrcp_ioctl on
//                     the tool's renderer context, "DMS"-table names to
//                     lm_dmscp_ioctl on its server context, the rest to
//                     lm_nmc_ioctl
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <unistd.h>

#include "base/upnp_mem.h"
#include "across_commands.h"
#include "dms_commands.h"
#include "upload_commands.h"
#include "cp/upnp_soap.h"
#include "nmc/lm_nmc.h"
#include "nmc/lm_nmc_devices.h"
#include "nmc/lm_nmc_internal.h"
#include "queue_commands.h"
#include "renderer_cursor.h"
#include "transfer_commands.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
// Serialises the output of the notifier threads and the command loop.
std::mutex g_out;
uint32_t g_server_context = LM_NMC_DEFAULT_DMS_CONTEXT;
uint32_t g_renderer_context = LM_NMC_DEFAULT_DMR_CONTEXT;

void on_signal(int) { g_stop = 1; }

void print_line(const std::string &line) {
  std::lock_guard<std::mutex> hold(g_out);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void on_state(const char *name, const char *value) {
  print_line(std::string("state    ") + (name ? name : "") + " = " + (value ? value : "<null>"));
}

const char *server_code(uint32_t code) {
  switch (code) {
    case 4: return "added";
    case 2: return "removed";
    case 1: return "updated";
    default: return "?";
  }
}

void on_server(uint32_t context, uint32_t code, const char *text) {
  print_line("server   ctx " + std::to_string(context) + " " + server_code(code) + " (" + std::to_string(code) +
             ") " + (text ? text : ""));
}

const char *transport_state(uint32_t code) {
  static const char *names[] = {"STOPPED", "PLAYING", "TRANSITIONING", "PAUSED_PLAYBACK",
                                "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};
  return code < 7 ? names[code] : "?";
}

void on_renderer(uint32_t context, uint32_t code, const char *text) {
  std::string what = code == 0x4002   ? "added"
                     : code == 0x4001 ? "removed"
                                      : std::string("updated ") + transport_state(code);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", code);
  print_line("renderer ctx " + std::to_string(context) + " " + what + " (" + hex + ") " + (text ? text : ""));
}

bool is_server_row(const std::string &name) {
  static const char *rows[] = {"SetDMSItemCache", "GetDMSItemCache", "GetDMSUploadProtocolInfo",
                               "EnableDMSProxy",  "DisableDMSProxy", "GetLevelMediaType"};
  for (const char *row : rows) {
    if (name == row) return true;
  }
  return false;
}

void wait_seconds(double seconds) {
  for (int i = 0; !g_stop && i < static_cast<int>(seconds * 10); ++i) usleep(100000);
}

void run(const std::string &line) {
  size_t start = line.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return;
  std::string command = line.substr(start, line.find_last_not_of(" \t\r\n") - start + 1);
  if (command[0] == '#') return;
  if (command[0] == '<') {
    print_line("query    " + command);
    char *response = lm_nmc_api_query(command.c_str(), 1);
    print_line(std::string("response ") + (response ? response : "(none: the controller does not run)"));
    upnp_free_impl(response);
    return;
  }
  std::string name = command.substr(0, command.find_first_of(" \t"));
  if (name == "sleep") {
    wait_seconds(std::atof(command.c_str() + 5));
    return;
  }
  if (renderer_cursor_run(g_renderer_context, command, print_line)) return;
  if (dms_command(command, g_server_context, print_line)) return;
  if (upload_command(command, g_server_context, print_line)) return;
  if (transfer_command(command, g_server_context, g_renderer_context, print_line)) return;
  if (queue_commands_run(g_renderer_context, command, print_line)) return;
  if (across_command(command, print_line)) return;
  char out[8192] = "";
  lm_nmc_result_t rc;
  if (name.compare(0, 3, "DMR") == 0) rc = lm_dmrcp_ioctl(g_renderer_context, command.c_str(), sizeof out, out);
  else if (is_server_row(name)) rc = lm_dmscp_ioctl(g_server_context, command.c_str(), sizeof out, out);
  else rc = lm_nmc_ioctl(0, command.c_str(), sizeof out, out);
  const char *text = rc == 0 ? "OK" : upnp_get_errmsg(static_cast<int>(rc));
  print_line("ioctl    " + command + " -> " + std::to_string(rc) + " " + (text ? text : "") +
             (out[0] ? std::string(" \"") + out + "\"" : std::string()));
}

}  // namespace

int main(int argc, char **argv) {
  bool interactive = false;
  double seconds = 0;
  std::string log_path = "kestrel-nmc-log.txt";
  const bool local_renderer = local_renderer_option(&argc, argv);
  int option;
  while ((option = getopt(argc, argv, "it:l:h")) != -1) {
    if (option == 'i') interactive = true;
    else if (option == 't') seconds = std::atof(optarg);
    else if (option == 'l') log_path = optarg;
    else {
      std::fprintf(stderr, "usage: kestrel-nmc [--local-renderer] [-i] [-t SECONDS] [-l LOGFILE] [COMMAND ...]\n%s",
                   renderer_cursor_help());
      std::fprintf(stderr, "%s", queue_commands_help());
      return 2;
    }
  }
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  lm_nmc_register_state_callback(on_state);
  const char *start_argv[] = {"kestrel-nmc", "--logfile", log_path.c_str()};
  if (!lm_nmc_init(3, start_argv, 0)) {
    std::fprintf(stderr, "kestrel-nmc: the controller did not start\n");
    return 1;
  }
  if (lm_dmscp_create_context(&g_server_context) != 0) g_server_context = LM_NMC_DEFAULT_DMS_CONTEXT;
  if (lm_dmrcp_create_context(&g_renderer_context) != 0) g_renderer_context = LM_NMC_DEFAULT_DMR_CONTEXT;
  lm_dmscp_register_callback(g_server_context, on_server);
  lm_dmrcp_register_callback(g_renderer_context, on_renderer);
  queue_commands_listen(g_renderer_context, print_line);
  print_line("contexts server " + std::to_string(g_server_context) + " renderer " +
             std::to_string(g_renderer_context));
  if (local_renderer) local_renderer_enable(print_line);

  for (int i = optind; i < argc && !g_stop; ++i) run(argv[i]);
  std::string line;
  while (interactive && !g_stop && std::getline(std::cin, line)) run(line);
  wait_seconds(seconds);

  // The stop is asked for unless a "StopNMC" already did; wait (bounded)
  // for the run state "Stopped".
  lm_dmscp_register_callback(g_server_context, nullptr);
  lm_dmrcp_register_callback(g_renderer_context, nullptr);
  lm_nmc_stop();
  char state[64] = "";
  for (int i = 0; i < 150; ++i) {
    lm_nmc_ioctl(0, "GetNMCRunState", sizeof state, state);
    if (std::strcmp(state, "Stopped") == 0) break;
    usleep(100000);
  }
  lm_nmc_register_state_callback(nullptr);
  return std::strcmp(state, "Stopped") == 0 ? 0 : 1;
}
