// Local files queued for a renderer are served by the library's HTTP server
// under a token of their own ("/rpc/share_local_file?TOKEN"); the share
// lives as long as the entry that names it (copies of an entry made while
// it is moved or shuffled share one record).
#include <cctype>
#include <cstring>

#include "nmc/lm_nmc_queue.h"
#include "webapi/webapi_local_files.h"

struct nmc_queue_share {
  std::string token;
  ~nmc_queue_share() { webapi_local_file_unshare(token.c_str()); }
};

std::shared_ptr<nmc_queue_share> nmc_queue_share_of(const std::string &url) {
  static const char k_marker[] = WEBAPI_SHARE_PREFIX "?";
  size_t at = url.find(k_marker);
  if (at == std::string::npos) return nullptr;
  std::string token = url.substr(at + sizeof k_marker - 1);
  if (token.size() + 1 != WEBAPI_SHARE_TOKEN_SIZE) return nullptr;
  for (char c : token) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return nullptr;
  }
  auto share = std::make_shared<nmc_queue_share>();
  share->token = token;
  return share;
}
