// Paths of the media object model: the application-data folder and files in
// it, files beside the library, folder listings.
#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "media/zel_platform.h"
#include "media/zel_util.h"

namespace {

bool copy_out(const std::string &text, char *out, size_t size) {
  if (!out || size == 0) return false;
  out[0] = '\0';
  if (text.size() >= size) return false;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

// A name for a file in a folder: no folder parts of its own.
bool plain_name(const char *name) {
  return name && name[0] && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
         std::strcmp(name, "..") != 0;
}

}  // namespace

bool ZelUtil::GetLMAppDataPath(char *out, size_t size) {
  if (out && size) out[0] = '\0';
  char *folder = MUGetAppDataFolder();
  if (!folder) return false;
  std::string path = folder;
  upnp_free_impl(folder);
  if (!path.empty() && path.back() == '/') path.pop_back();
  return copy_out(path + "/LumetMedia", out, size);
}

bool ZelUtil::CreatePathToLMAppDataFile(const char *name, char *out, size_t size) {
  if (out && size) out[0] = '\0';
  if (!plain_name(name)) return false;
  char folder[4096];
  if (!GetLMAppDataPath(folder, sizeof folder)) return false;
  return copy_out(std::string(folder) + "/" + name, out, size);
}

bool ZelUtil::CreatePathToLocalFile(const char *name, char *out, size_t size) {
  if (out && size) out[0] = '\0';
  if (!plain_name(name)) return false;
  char *image = MUGetOwnImagePath();
  if (!image) return false;
  std::string path = image;
  upnp_free_impl(image);
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  return copy_out(path.substr(0, slash + 1) + name, out, size);
}

char **ZelUtil::GetFilesFromFolder(const char *path) { return MUGetFilesInFolder(path); }
