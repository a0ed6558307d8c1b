#include "http_stream_wmdrm_fake.h"

#include <cstring>

#include "http/http_stream.h"

FakeWmdrm g_fake_wmdrm;

namespace {

struct Context {
  int pieces = 0;
};

void *prepare(const char *location) {
  if (!std::strstr(location, "prot")) return nullptr;
  g_fake_wmdrm.prepared++;
  return new Context;
}

uint32_t block_size(void *) { return 1000; }

int process(void *context, const char *data, uint32_t count, upnp_wmdrm_deliver deliver, void *argument) {
  static_cast<Context *>(context)->pieces++;
  g_fake_wmdrm.processed++;
  std::string clear = fake_wmdrm_crypt(std::string(data, count));
  uint32_t half = count / 2;
  if (deliver(argument, clear.data(), half)) return 1;
  return deliver(argument, clear.data() + half, count - half);
}

void reset(void *) { g_fake_wmdrm.resets++; }

void finish(void *context) {
  g_fake_wmdrm.finished++;
  delete static_cast<Context *>(context);
}

int bind(const char *location) {
  g_fake_wmdrm.binds++;
  std::lock_guard<std::mutex> hold(g_fake_wmdrm.mutex);
  g_fake_wmdrm.bound.push_back(location);
  return g_fake_wmdrm.refuse_bind ? 0 : 1;
}

}  // namespace

std::string fake_wmdrm_crypt(const std::string &bytes) {
  std::string out = bytes;
  for (char &c : out) c = static_cast<char>(c ^ 0x5A);
  return out;
}

void FakeWmdrm::install(bool with_bind) {
  prepared = processed = resets = finished = binds = 0;
  refuse_bind = false;
  {
    std::lock_guard<std::mutex> hold(mutex);
    bound.clear();
  }
  upnp_wmdrm_callbacks callbacks{prepare, block_size, process, reset, finish, with_bind ? bind : nullptr};
  upnp_renderer_set_wmdrm_callbacks(&callbacks);
}

void FakeWmdrm::uninstall() { upnp_renderer_set_wmdrm_callbacks(nullptr); }
