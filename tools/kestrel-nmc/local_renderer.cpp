// --local-renderer: the tests' fake host player registered as the local
// audio/video renderer, its clock following the real one, so that the
// renderer is listed and can be driven like a network renderer.
#include <cstring>

#include "fake_player.h"
#include "nmc/lm_ldmr.h"
#include "renderer_cursor.h"

bool local_renderer_option(int *argc, char **argv) {
  bool found = false;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--local-renderer") == 0) {
      found = true;
      continue;
    }
    argv[kept++] = argv[i];
  }
  argv[kept] = nullptr;
  *argc = kept;
  return found;
}

void local_renderer_enable(void (*print)(const std::string &)) {
  fake_player_use_real_clock(1);
  fake_player_install(FAKE_PLAYER_ALL_HOOKS);
  lm_ldmr_set_name("Kestrel Fake");
  lm_nmc_result_t rc = lm_ldmr_enable(1);
  print("local    renderer \"Kestrel Fake\" enabled -> " + std::to_string(rc));
}
