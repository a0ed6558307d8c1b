// The ini file: its path, reading (UTF-8 or UTF-16) and writing it back whole
// in the encoding it was read in.
#include "base/upnp_ini_file.h"

#include "base/upnp_fd.h"
#include "base/upnp_ini_file_internal.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"
#include "base/upnp_string.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string text_of(const char *text) { return text != nullptr ? text : ""; }

std::string current_path() {
  std::string path;
  if (ini_lock()) {
    path = ini_path_locked();
    ini_unlock();
  }
  return path;
}

// Sets one "name=value" pair read from the file. An unknown name may be the
// application's obfuscated form of a restricted property's name.
void apply_pair(const std::string &name, const std::string &value) {
  if (setPropertyByStringkey(name.c_str(), value.c_str(), 0, 0) == 0 &&
      upnp_ini_file_getPropertyKey(name.c_str()) == UPNP_INI_NO_KEY) {
    upnp_ini_translate_obfuscated_name_cb translate =
        g_ini_hooks.translate_obfuscated_name.load(std::memory_order_acquire);
    if (translate != nullptr) {
      char *real = translate(name.c_str());
      if (real != nullptr) {
        setPropertyByStringkey(real, value.c_str(), 0, 0);
        upnp_free_impl(real);
      }
    }
  }
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "%s = %s", name.c_str(), value.c_str());
}

}  // namespace

const std::string &ini_path_locked() {
  if (!g_ini.ini_path_valid) {
    const IniProperty *path = ini_find(INI_INIPATH);
    const IniProperty *name = ini_find(INI_ININAME);
    std::string dir = path != nullptr ? text_of(ini_effective(*path)) : "";
    std::string file = name != nullptr ? text_of(ini_effective(*name)) : "";
    if (dir.empty()) {
      g_ini.ini_path = file;
    } else {
      std::error_code ec;
      fs::create_directories(dir, ec);
      g_ini.ini_path = dir.back() == '/' ? dir + file : dir + "/" + file;
    }
    g_ini.ini_path_valid = true;
  }
  return g_ini.ini_path;
}

extern "C" const char *upnp_ini_file_get_ini_path(void) {
  if (!ini_lock()) return nullptr;
  const char *path = ini_path_locked().c_str();
  ini_unlock();
  return path;
}

void upnp_ini_file_read_buffer(const char *data, size_t size) {
  std::string text;
  bool utf16 = size >= 2 && static_cast<unsigned char>(data[0]) == 0xFF && static_cast<unsigned char>(data[1]) == 0xFE;
  if (utf16) {
    upnp_string *converted = upnp_string_utf16_to_utf8(data, size);
    if (converted == nullptr) return;
    text.assign(converted->buffer, converted->length);
    upnp_string_free(converted);
  } else {
    text.assign(data, size);
  }
  if (ini_lock()) {
    g_ini.utf16 = utf16;
    ini_unlock();
  }

  size_t start = 0;
  while (start <= text.size()) {
    size_t end = start;
    while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x20) ++end;
    if (end > start) {
      std::string line = text.substr(start, end - start);
      size_t equals = line.find('=');
      if (equals != std::string::npos && line[0] != '#') apply_pair(line.substr(0, equals), line.substr(equals + 1));
    }
    start = end + 1;
  }
}

extern "C" void upnp_ini_file_read_properties(void) {
  std::string path = current_path();
  if (path.empty()) return;
  std::error_code ec;
  uintmax_t size = fs::file_size(path, ec);
  if (ec || size < 2) return;
  upnp_log_impl(LOG_LEVEL_INFO, LOG_SYSTEM, nullptr, "reading ini settings from %s", path.c_str());
  FILE *file = upnp_fopen(path.c_str(), "rb");
  if (file == nullptr) return;
  std::string data;
  char chunk[8192];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, got);
  std::fclose(file);
  upnp_ini_file_read_buffer(data.data(), data.size());
}

std::string upnp_ini_file_format(int utf_bits) {
  struct Entry {
    unsigned int key;
    std::string name;
    std::string help;
    std::string value;
    std::string current;
  };
  std::vector<Entry> entries;
  if (ini_lock()) {
    for (const IniProperty &p : g_ini.props) {
      if (p.name == nullptr || p.hidden) continue;
      entries.push_back({p.key, p.name, text_of(p.help), text_of(ini_effective(p)), text_of(p.value)});
    }
    ini_unlock();
  }

  upnp_ini_get_obfuscated_name_cb obfuscate = g_ini_hooks.get_obfuscated_name.load(std::memory_order_acquire);
  upnp_ini_encrypt_cb encrypt = g_ini_hooks.encrypt.load(std::memory_order_acquire);
  char header[256];
  std::snprintf(header, sizeof header,
                "#! LumetMedia ini file / charset UTF-%d\n#! Change settings by commandline or by editing this file\n"
                "#! Do not add space characters before or after equal sign!\n\n[main]\n",
                utf_bits);
  std::string out = header;
  for (const Entry &e : entries) {
    bool restricted = ini_is_restricted(e.key);
    if (!e.help.empty() && !restricted) out += "# " + e.help + "\n";
    std::string name = e.name;
    std::string value = e.value;
    if (restricted && obfuscate != nullptr && encrypt != nullptr) {
      char *hidden_name = obfuscate(e.name.c_str());
      char *secret = encrypt(e.current.c_str());
      name = text_of(hidden_name);
      value = text_of(secret);
      upnp_free_impl(hidden_name);
      upnp_free_impl(secret);
    }
    out += name + "=" + value + "\n\n";
  }
  return out;
}

bool upnp_ini_file_replace(const std::string &path, const std::string &bytes) {
  std::string temporary = path + ".tmp";
  FILE *file = upnp_fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fflush(file) == 0 && ok;
  ok = fsync(fileno(file)) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

extern "C" int upnp_ini_file_write_properties(void) {
  if (!g_ini_lock_exists.load(std::memory_order_acquire)) return -1;
  if (upnp_ini_file_getBoolean(INI_READ_ONLY)) return 0;
  std::string path;
  bool utf16 = false;
  if (!ini_lock()) return -1;
  path = ini_path_locked();
  utf16 = g_ini.utf16;
  ini_unlock();

  std::string text = upnp_ini_file_format(utf16 ? 16 : 8);
  std::string bytes;
  bool ready = true;
  if (utf16) {
    upnp_string *converted = upnp_string_utf8_to_utf16(text.data(), text.size());
    if (converted == nullptr) {
      ready = false;
    } else {
      bytes = "\xFF\xFE";
      bytes.append(converted->buffer, converted->length);
      upnp_string_free(converted);
    }
  } else {
    bytes = text;
  }
  if (!ready || path.empty() || !upnp_ini_file_replace(path, bytes)) {
    upnp_log_impl(LOG_LEVEL_ERROR, LOG_SYSTEM, nullptr, "ini file \"%s\" not writable! ***", path.c_str());
    return -1;
  }
  return 0;
}

extern "C" void upnp_ini_file_reset(void) {
  std::string path = current_path();
  if (!path.empty()) std::remove(path.c_str());
}
