// Reading and changing properties: the getters, the set rules with their side
// effects, lists and the property listing.
#include "base/upnp_ini_file.h"

#include "base/upnp_ini_file_internal.h"
#include "base/upnp_log.h"
#include "base/upnp_mem.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool text_is_true(const char *text) { return text != nullptr && text[0] != '\0' && text[0] != '0'; }

int text_to_int(const char *text) {
  if (text == nullptr || text[0] == '\0') return 0;
  return static_cast<int>(std::strtol(text, nullptr, 10));
}

bool same_text(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

// Splits the value (else the default) of a list property at the commas; under
// the lock. list_count stays 0 when there is nothing to split.
void split_list(IniProperty &p) {
  const char *text = ini_effective(p);
  if (text == nullptr) return;
  int count = 1;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == ',') ++count;
  }
  if (count > 1) {
    char *copy = upnp_strdup_impl(text);
    char **starts = static_cast<char **>(upnp_calloc_impl(static_cast<size_t>(count), sizeof(char *)));
    if (copy == nullptr || starts == nullptr) {
      upnp_free_impl(copy);
      upnp_free_impl(starts);
      return;
    }
    // starts[0] keeps the copy itself so that it can be freed; element 0 is
    // the copy's beginning.
    int index = 0;
    char *element = copy;
    for (;;) {
      char *comma = std::strchr(element, ',');
      if (comma != nullptr) *comma = '\0';
      starts[index++] = element;
      if (comma == nullptr) break;
      element = comma + 1;
      while (*element == ' ' || *element == '\t') ++element;
    }
    p.list_cache = starts;
  }
  p.list_count = count;
}

}  // namespace

extern "C" const char *upnp_ini_file_getString(unsigned int key) {
  if (!ini_lock()) return nullptr;
  const IniProperty *p = ini_find(key);
  const char *text = p != nullptr ? ini_effective(*p) : nullptr;
  ini_unlock();
  return text;
}

extern "C" int upnp_ini_file_getInt(unsigned int key) { return text_to_int(upnp_ini_file_getString(key)); }

extern "C" int upnp_ini_file_getBoolean(unsigned int key) { return text_is_true(upnp_ini_file_getString(key)) ? 1 : 0; }

extern "C" int upnp_ini_file_isSet(unsigned int key) { return upnp_ini_file_getBoolean(key); }

extern "C" int upnp_ini_file_isModified(unsigned int key) {
  if (!ini_lock()) return 0;
  const IniProperty *p = ini_find(key);
  int modified = p != nullptr && p->value != nullptr ? 1 : 0;
  ini_unlock();
  return modified;
}

extern "C" unsigned int upnp_ini_file_getPropertyKey(const char *name) {
  if (!ini_lock()) return UPNP_INI_NO_KEY;
  const IniProperty *p = ini_find_name(name);
  unsigned int key = p != nullptr ? p->key : UPNP_INI_NO_KEY;
  ini_unlock();
  return key;
}

extern "C" const char *upnp_ini_file_getPropParamName(unsigned int key) {
  if (!ini_lock()) return nullptr;
  const IniProperty *p = ini_find(key);
  const char *name = p != nullptr ? p->name : nullptr;
  ini_unlock();
  return name;
}

extern "C" int upnp_ini_file_isValidKey(unsigned int key) {
  if (!ini_lock()) return 0;
  int valid = ini_find(key) != nullptr ? 1 : 0;
  ini_unlock();
  return valid;
}

extern "C" int upnp_ini_file_propertyIsHidden(unsigned int key) {
  if (!ini_lock()) return 1;
  const IniProperty *p = ini_find(key);
  int hidden = p == nullptr || p->hidden ? 1 : 0;
  ini_unlock();
  return hidden;
}

extern "C" int upnp_ini_file_propertyIsDisabled(unsigned int key) {
  if (!ini_lock()) return 1;
  const IniProperty *p = ini_find(key);
  int disabled = p == nullptr || p->disabled ? 1 : 0;
  ini_unlock();
  return disabled;
}

extern "C" void upnp_ini_file_hideProperty(unsigned int key, int flag) {
  if (!ini_lock()) return;
  if (IniProperty *p = ini_find(key)) p->hidden = flag != 0;
  ini_unlock();
}

extern "C" void upnp_ini_file_disableProperty(unsigned int key, int flag) {
  if (!ini_lock()) return;
  if (IniProperty *p = ini_find(key)) p->disabled = flag != 0;
  ini_unlock();
}

extern "C" int upnp_ini_file_restartPending(void) {
  if (!ini_lock()) return 0;
  int pending = g_ini.pending_restart ? 1 : 0;
  ini_unlock();
  return pending;
}

extern "C" void upnp_ini_file_reset_restartPending(void) {
  if (!ini_lock()) return;
  g_ini.pending_restart = false;
  ini_unlock();
}

extern "C" int upnp_ini_file_setProperty(unsigned int key, const char *text, int forced, int overwrite) {
  if (!g_ini_lock_exists.load(std::memory_order_acquire)) return 0;
  // A restricted property arrives encrypted; the application's hooks run
  // before the lock is taken.
  char *decrypted = nullptr;
  if (text != nullptr && ini_is_restricted(key)) {
    upnp_ini_decrypt_cb decrypt = g_ini_hooks.decrypt.load(std::memory_order_acquire);
    upnp_ini_is_encrypted_cb is_encrypted = g_ini_hooks.is_encrypted.load(std::memory_order_acquire);
    if (decrypt == nullptr) return 0;
    if (is_encrypted == nullptr || is_encrypted(text) != 0) {
      decrypted = decrypt(text);
      if (decrypted == nullptr) return 0;
      text = decrypted;
    }
  }

  int changed = 0;
  bool set_level = false;
  int level = 0;
  bool set_sources = false;
  unsigned int sources = 0;
  if (ini_lock()) {
    IniProperty *p = ini_find(key);
    bool counts_as_default = false;
    if (p != nullptr && text != nullptr && p->value == nullptr) {
      counts_as_default = p->def != nullptr ? std::strcmp(text, p->def) == 0 : text[0] == '\0';
    }
    if (p == nullptr || p->disabled) {
    } else if (!forced && p->hidden) {
    } else if (!overwrite && p->value != nullptr) {
      // The ini file never overrides the command line.
    } else if (same_text(text, p->value)) {
      // Also covers none over none, with or without a default.
    } else if (!overwrite && counts_as_default) {
    } else {
      char *fresh = nullptr;
      bool keep_none = text == nullptr || (!overwrite && (same_text(text, p->def) || text[0] == '\0'));
      if (!keep_none) fresh = upnp_strdup_impl(text);
      if (keep_none || fresh != nullptr) {
        // The logger follows vlevel and v with the value now in effect (the
        // default when the value is dropped).
        const char *effective = text != nullptr ? text : p->def;
        if (key == INI_VLEVEL) {
          set_level = true;
          level = text_to_int(effective);
        } else if (key == INI_V) {
          set_sources = true;
          sources = static_cast<unsigned int>(std::strtoul(effective != nullptr ? effective : "0", nullptr, 10));
        } else if (key == INI_ININAME || key == INI_INIPATH) {
          g_ini.ini_path_valid = false;
        }
        ini_drop_list_cache(*p);
        if (p->restart && !counts_as_default) g_ini.pending_restart = true;
        upnp_free_impl(p->value);
        p->value = fresh;
        changed = 1;
      }
    }
    ini_unlock();
  }
  if (set_level) upnp_log_set_level(level);
  if (set_sources) upnp_log_set_sources(sources);
  upnp_free_impl(decrypted);
  return changed;
}

extern "C" int upnp_ini_file_setPropertyByKey(unsigned int key, const char *text) {
  return upnp_ini_file_setProperty(key, text, 1, 1);
}

extern "C" int setPropertyByStringkey(const char *name, const char *text, int forced, int overwrite) {
  unsigned int key = upnp_ini_file_getPropertyKey(name);
  if (key == UPNP_INI_NO_KEY) return 0;
  return upnp_ini_file_setProperty(key, text, forced, overwrite);
}

extern "C" char *upnp_ini_file_get_next_CSV(unsigned int key, int index) {
  if (!ini_lock()) return nullptr;
  char *copy = nullptr;
  IniProperty *p = ini_find(key);
  if (p != nullptr) {
    if (!p->list) {
      if (index == 0) copy = upnp_strdup_impl(p->value);
    } else {
      if (p->list_count == 0) split_list(*p);
      if (index >= 0 && index < p->list_count) {
        if (p->list_count > 1) {
          const char *element = p->list_cache[index];
          copy = element != nullptr && element[0] != '\0' ? upnp_strdup_impl(element) : nullptr;
        } else {
          copy = upnp_strdup_impl(p->value);
        }
      }
    }
  }
  ini_unlock();
  return copy;
}

extern "C" char *upnp_ini_file_get_all_properties(void) {
  struct Line {
    unsigned int key;
    std::string name;
    std::string value;
    bool has_value;
  };
  std::vector<Line> lines;
  if (!ini_lock()) return nullptr;
  for (const IniProperty &p : g_ini.props) {
    const char *text = ini_effective(p);
    lines.push_back({p.key, p.name != nullptr ? p.name : "", text != nullptr ? text : "", text != nullptr});
  }
  ini_unlock();

  // Restricted properties stay out when the application hides their names
  // and encrypts their values.
  bool hide_restricted = g_ini_hooks.get_obfuscated_name.load(std::memory_order_acquire) != nullptr &&
                         g_ini_hooks.encrypt.load(std::memory_order_acquire) != nullptr;
  std::string out;
  for (const Line &line : lines) {
    if (hide_restricted && ini_is_restricted(line.key)) continue;
    out += line.name;
    out += '=';
    if (line.has_value) out += line.value;
    out += "\r\n";
  }
  return upnp_strdup_impl(out.c_str());
}

extern "C" int upnp_ini_file_set_client_port(void) {
  if (!upnp_ini_file_isModified(INI_HTTPPORT)) upnp_ini_file_setPropertyByKey(INI_HTTPPORT, "9020");
  return upnp_ini_file_getInt(INI_HTTPPORT);
}
